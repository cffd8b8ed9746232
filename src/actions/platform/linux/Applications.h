#pragma once
#include "actions/Actions.h"

namespace hb::actions {

/// Installed applications from the freedesktop desktop entries (through GIO), their icons
/// from the icon theme, and web addresses through the desktop's default handler.
/// Safe to call from any thread; build it on the GUI thread (it sets up the icon theme).
class LinuxApplications final : public Applications {
  public:
    LinuxApplications();

    QStringList listApps() override;
    bool launchApp(const QString& name) override;
    std::optional<QByteArray> iconPNG(const QString& name) override;
    bool openURL(const QString& address) override;
};

} // namespace hb::actions
