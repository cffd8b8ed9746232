#include "app/ControlPanel.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QOpenGLContext>
#include <QWidget>

// Qt's process-wide shared OpenGL context (exported by Qt GUI in its Qt_6 ABI).
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace hb::app {
namespace {

/// Qt WebEngine draws through a shared OpenGL context, which Qt makes at start only when
/// asked before the application exists; asked there, it would load the OpenGL driver (tens of
/// megabytes with a software renderer) into every agent, panel or not. Made here instead,
/// just before the engine loads, as Qt would have made it.
void shareOpenGLContexts() {
    if (qt_gl_global_share_context())
        return;
    // Lives as long as the process: the engine holds on to it until its very end.
    auto* context = new QOpenGLContext;
    context->create();
    qt_gl_set_global_share_context(context);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

} // namespace

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
        // Before the module loads: the engine looks for the shared context as it starts.
        shareOpenGLContexts();
        const auto entry = reinterpret_cast<CreatePanel>(module.resolve("hb_create_control_panel"));
        if (!entry)
            qCWarning(lcHarbly, "the Control Panel opens in the browser: %s",
                      qPrintable(module.errorString()));
        return entry;
    }();
    return create ? create(address, std::move(openExternally)) : nullptr;
}

} // namespace hb::app
