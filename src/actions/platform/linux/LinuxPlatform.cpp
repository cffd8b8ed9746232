#include "actions/platform/linux/LinuxPlatform.h"

#include "actions/platform/linux/Applications.h"
#include "actions/platform/linux/HostIdentityLinux.h"
#include "actions/platform/linux/LinuxInput.h"
#include "actions/platform/linux/LinuxMedia.h"
#include "actions/platform/linux/Shortcuts.h"

namespace hb::actions {

LinuxPlatform::LinuxPlatform(const QString& supportDir)
    : apps_(std::make_unique<LinuxApplications>()), shortcuts_(std::make_unique<LinuxShortcuts>(supportDir)),
      input_(std::make_unique<LinuxInput>(QByteArray(), supportDir)),
      media_(std::make_unique<LinuxMedia>(*input_)), host_(std::make_unique<LinuxHostIdentity>()),
      platform_(std::make_unique<Platform>(Platform{*apps_, *shortcuts_, *input_, *media_, *host_})) {}

LinuxPlatform::~LinuxPlatform() = default;

} // namespace hb::actions
