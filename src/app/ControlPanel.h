#pragma once
#include <QUrl>
#include <functional>

class QWidget;

namespace hb::app {

/// True when `url` lies on the origin of `panel` (same scheme, host and port).
inline bool isPanelOrigin(const QUrl& url, const QUrl& panel) {
    // The panel is plain http: an address without a port means 80.
    constexpr int kHttpPort = 80;
    return url.scheme() == panel.scheme() && url.host() == panel.host() &&
           url.port(kHttpPort) == panel.port(kHttpPort) && url.userInfo().isEmpty();
}

/// True when the Control Panel can be shown in our own window: the panel module is built and,
/// for root, Qt WebEngine's sandbox is switched off (the engine would otherwise end the whole
/// process).
bool embeddedPanelAvailable(bool runningAsRoot);

/// Where the panel module is looked for: "../lib/harbly" beside the executable's folder.
QString panelModulePath();

/// The Control Panel window from the panel module, which carries Qt WebEngine. The module is
/// loaded on the first call only, so that an agent whose panel never opens (headless, or a
/// tray nobody clicks) never maps the engine. Null when the module cannot be loaded.
QWidget* createControlPanel(const QUrl& address, std::function<bool(const QUrl&)> openExternally);

} // namespace hb::app
