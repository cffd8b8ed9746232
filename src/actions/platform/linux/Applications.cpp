#include "actions/platform/linux/Applications.h"

#include "actions/platform/linux/AppCatalog.h"
#include "actions/platform/linux/IconRenderer.h"
#include "actions/platform/linux/UrlOpener.h"

namespace hb::actions {

LinuxApplications::LinuxApplications() {
    apps::configureIconTheme();
}

QStringList LinuxApplications::listApps() {
    return apps::catalogueNames();
}

bool LinuxApplications::launchApp(const QString& name) {
    return apps::launchByName(name);
}

std::optional<QByteArray> LinuxApplications::iconPNG(const QString& name) {
    const std::optional<apps::IconSource> source = apps::iconSourceFor(name);
    return source ? apps::renderIconPNG(*source) : std::nullopt;
}

bool LinuxApplications::openURL(const QString& address) {
    return apps::openWebAddress(address);
}

} // namespace hb::actions
