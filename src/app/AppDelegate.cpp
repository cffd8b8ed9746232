#include "app/AppDelegate.h"

#include "actions/platform/linux/Notification.h"
#include "actions/platform/linux/TrayHost.h"
#include "app/LoginItem.h"
#include "app/PanelLauncher.h"
#include "app/TrayMenu.h"
#include "app/UpdateNotice.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

namespace hb::app {

bool startedBySession() {
    // Set by the session manager for its autostart entries, and by systemd for its services.
    return qEnvironmentVariableIsSet("DESKTOP_AUTOSTART_ID") || qEnvironmentVariableIsSet("INVOCATION_ID");
}

AppDelegate::AppDelegate(ShellDeps deps, QObject* parent) : QObject(parent), deps_(std::move(deps)) {
    // A tray agent lives on after its last window (Control Panel, PIN dialog) closes.
    QApplication::setQuitOnLastWindowClosed(false);
    const auto open = [this](const QUrl& url) { return openExternally(url); };
    tray_ = new TrayMenu({[this] { showPanel(); }, [this] { showPIN(); }, [this] { openUpdate(); }},
                         deps_.trayHostPresent ? deps_.trayHostPresent : actions::trayHostPresent, this);
    updates_ = new UpdateNotice(open, this);
    panel_ = new PanelLauncher(deps_.port, open, this);
    connect(updates_, &UpdateNotice::updateFound, tray_, &TrayMenu::showUpdate);
    connect(updates_, &UpdateNotice::checkFinished, this, &AppDelegate::updateCheckFinished);
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    setupMenuBar();
    const bool firstRun = deps_.isFirstRun && deps_.isFirstRun();
    // Written once: a user who removes the entry later (their desktop's autostart settings, or
    // the Control Panel) is not overruled at the next start.
    if (firstRun && !QFileInfo::exists(systemdUserUnitPath()))
        registerLoginItem(deps_.executablePath);
    const bool noTray = !statusItem();
    if (noTray)
        noteMissingTray();
    // Without a tray, a start from the applications menu is the only way to the panel.
    if (firstRun || (noTray && !startedBySession()))
        showPanel();
    scheduleUpdateChecks();
}

void AppDelegate::noteMissingTray() {
    if (deps_.noTrayNoticeMarker.isEmpty() || QFileInfo::exists(deps_.noTrayNoticeMarker))
        return;
    const bool shown = actions::showNotification(
        QStringLiteral("Harbly runs without a tray icon"),
        QStringLiteral("This desktop shows no tray icons. On GNOME, install and switch on the extension "
                       "\"AppIndicator and KStatusNotifierItem Support\" (package "
                       "gnome-shell-extension-appindicator); Harbly's icon then appears by itself. Until "
                       "then, start Harbly from the applications menu to open its Control Panel."));
    QFile marker(deps_.noTrayNoticeMarker);
    if (shown && marker.open(QIODevice::WriteOnly))
        marker.close();
}

void AppDelegate::scheduleUpdateChecks() {
    updates_->schedule();
}

void AppDelegate::runUpdateCheck() {
    updates_->check();
}

void AppDelegate::openUpdate() {
    updates_->open();
}

void AppDelegate::setupMenuBar() {
    tray_->setup();
}

QUrl AppDelegate::panelUrl(quint16 port) {
    return PanelLauncher::panelUrl(port);
}

void AppDelegate::showPanel() {
    panel_->show(tray_->icon());
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

QSystemTrayIcon* AppDelegate::statusItem() const {
    return tray_->statusItem();
}

QWidget* AppDelegate::window() const {
    return panel_->window();
}

const std::optional<update::UpdateInfo>& AppDelegate::pendingUpdate() const {
    return updates_->pendingUpdate();
}

bool AppDelegate::openExternally(const QUrl& url) const {
    return deps_.openURL ? deps_.openURL(url) : QDesktopServices::openUrl(url);
}

} // namespace hb::app
