#include "app/ControlPanel.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QWidget>

namespace hb::app {

/// The module's one entry point (see ControlPanelWindow.cpp).
using CreatePanel = QWidget* (*)(const QUrl&, std::function<bool(const QUrl&)>);

bool embeddedPanelAvailable(bool runningAsRoot) {
#ifdef HB_HAVE_WEBENGINE
    if (!runningAsRoot)
        return true;
    return !qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX") ||
           qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS").split(u' ').contains(u"--no-sandbox");
#else
    Q_UNUSED(runningAsRoot);
    return false;
#endif
}

QString panelModulePath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/harbly/libharbly-panel.so");
}

QWidget* createControlPanel(const QUrl& address, std::function<bool(const QUrl&)> openExternally) {
    static QLibrary module(panelModulePath());
    static const CreatePanel create = [] {
        const auto entry = reinterpret_cast<CreatePanel>(module.resolve("hb_create_control_panel"));
        if (!entry)
            qCWarning(lcHarbly, "the Control Panel opens in the browser: %s", qPrintable(module.errorString()));
        return entry;
    }();
    return create ? create(address, std::move(openExternally)) : nullptr;
}

} // namespace hb::app
