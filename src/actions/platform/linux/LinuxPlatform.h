#pragma once
#include "actions/Actions.h"

#include <memory>

namespace hb::actions {

class LinuxApplications;
class LinuxShortcuts;
class LinuxInput;
class LinuxMedia;
class LinuxHostIdentity;

/// The Linux implementations of every desktop action, owned together.
class LinuxPlatform {
  public:
    explicit LinuxPlatform(const QString& supportDir);
    ~LinuxPlatform();

    Platform& platform() { return *platform_; }

  private:
    std::unique_ptr<LinuxApplications> apps_;
    std::unique_ptr<LinuxShortcuts> shortcuts_;
    std::unique_ptr<LinuxInput> input_;
    std::unique_ptr<LinuxMedia> media_;
    std::unique_ptr<LinuxHostIdentity> host_;
    std::unique_ptr<Platform> platform_;
};

} // namespace hb::actions
