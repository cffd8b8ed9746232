#include "app/AppDelegate.h"

#include "app/ControlPanel.h"
#include "app/LoginItem.h"
#include "app/TrayIcon.h"
#include "core/Paths.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTimer>
#include <unistd.h>

namespace hb::app {

AppDelegate::AppDelegate(ShellDeps deps, QObject* parent)
    : QObject(parent), deps_(std::move(deps)), checker_(new update::UpdateChecker(this)) {
    // A tray agent lives on after its last window (Control Panel, PIN dialog) closes.
    QApplication::setQuitOnLastWindowClosed(false);
}

AppDelegate::~AppDelegate() {
    delete window;
    delete statusItem;
    delete menu_;
}

void AppDelegate::applicationDidFinishLaunching() {
    setupMenuBar();
    if (!QFileInfo::exists(launchAgentMarkerPath()))
        registerLoginItem(deps_.executablePath);
    if (deps_.isFirstRun && deps_.isFirstRun())
        showPanel();
    scheduleUpdateChecks();
}

void AppDelegate::scheduleUpdateChecks() {
    runUpdateCheck();
    updateTimer_ = new QTimer(this);
    updateTimer_->setInterval(kUpdateCheckInterval);
    connect(updateTimer_, &QTimer::timeout, this, &AppDelegate::runUpdateCheck);
    updateTimer_->start();
}

void AppDelegate::runUpdateCheck() {
    // The checker is our child: the completion never runs after this object is gone.
    checker_->checkForUpdate([this](std::optional<update::UpdateInfo> info) {
        if (info)
            showUpdate(*info);
        Q_EMIT updateCheckFinished(info.has_value());
    });
}

void AppDelegate::showUpdate(const update::UpdateInfo& info) {
    pendingUpdate = info;
    if (!updateItem)
        return;
    // "&" would turn into a mnemonic marker in a menu title.
    QString version = info.version;
    version.replace(u'&', QStringLiteral("&&"));
    updateItem->setText(QStringLiteral("Update available \u2014 ") + version + QStringLiteral(" \u2192"));
    updateItem->setToolTip(info.notes);
    updateItem->setVisible(true);
    updateSep->setVisible(true);
    if (statusItem)
        statusItem->setToolTip(QStringLiteral("Harbly ") + info.version + QStringLiteral(" is available"));
}

void AppDelegate::openUpdate() {
    if (pendingUpdate)
        openExternally(pendingUpdate->url);
}

void AppDelegate::setupMenuBar() {
    if (statusItem)
        return;
    statusItem = new QSystemTrayIcon(chooseTrayIcon(paths::resourceDir()).icon, this);
    menu_ = new QMenu();

    updateItem = menu_->addAction(QStringLiteral("Update available\u2026"), this, &AppDelegate::openUpdate);
    updateItem->setVisible(false);
    updateSep = menu_->addSeparator();
    updateSep->setVisible(false);
    QAction* open = menu_->addAction(QStringLiteral("Open Control Panel"), this, &AppDelegate::showPanel);
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    // Queued: the modal dialog must not run inside the menu's (or the D-Bus menu call's) handler.
    QAction* pin = menu_->addAction(QStringLiteral("Show Pairing PIN\u2026"));
    connect(pin, &QAction::triggered, this, &AppDelegate::showPIN, Qt::QueuedConnection);
    menu_->addSeparator();
    QAction* quit = menu_->addAction(QStringLiteral("Quit Harbly"), qApp, &QCoreApplication::quit);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    for (QAction* action : menu_->actions())
        action->setShortcutVisibleInContextMenu(true);

    statusItem->setContextMenu(menu_);
    // A left click on the tray icon opens the same menu where the desktop does not do so itself.
    connect(statusItem, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            menu_->popup(QCursor::pos());
    });
    statusItem->show();
}

QUrl AppDelegate::panelUrl(quint16 port) {
    return QUrl(QStringLiteral("http://127.0.0.1:%1/admin").arg(port));
}

void AppDelegate::showPanel() {
    const QUrl address = panelUrl(deps_.port ? deps_.port() : 0);
    if (!window && !embeddedPanelAvailable(::geteuid() == 0)) {
        openExternally(address);
        return;
    }
    if (!window) {
        window = createControlPanel(address, [this](const QUrl& url) { return openExternally(url); });
        if (!window) {
            openExternally(address);
            return;
        }
        window->setWindowIcon(
            QIcon::fromTheme(QStringLiteral("harbly"), statusItem ? statusItem->icon() : QIcon()));
    }
    QMetaObject::invokeMethod(window, "bringToFront");
}

QString AppDelegate::pinMessage(const QString& pin) {
    return QStringLiteral("Enter ") + pin +
           QStringLiteral(" on your phone, or scan the QR code in the Control Panel.");
}

void AppDelegate::showPIN() {
    // No application menu names us, so the dialog's window title does.
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Harbly"), QStringLiteral("Pairing PIN"),
                    QMessageBox::Ok);
    box.setInformativeText(pinMessage(deps_.pinValue ? deps_.pinValue() : QString()));
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

bool AppDelegate::openExternally(const QUrl& url) const {
    return deps_.openURL ? deps_.openURL(url) : QDesktopServices::openUrl(url);
}

} // namespace hb::app
