#pragma once
#include "update/UpdateCheck.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QSystemTrayIcon;
class QWidget;

namespace hb::app {

class PanelLauncher;
class TrayMenu;
class UpdateNotice;

/// What the desktop shell needs from the rest of the agent.
struct ShellDeps {
    std::function<quint16()> port;     ///< the port the server listens on
    std::function<QString()> pinValue; ///< the current pairing PIN
    std::function<bool()> isFirstRun;  ///< true when this launch created the state file
    QString executablePath;            ///< written into the login item's Exec line
    /// Opens an address in the default browser; QDesktopServices when empty.
    std::function<bool(const QUrl&)> openURL;
    /// Whether the desktop shows tray icons; the desktop's own answer when empty.
    std::function<bool()> trayHostPresent;
    /// Where the note that this desktop has no tray host was shown once (a marker file).
    QString noTrayNoticeMarker;
};

/// The tray agent's shell on the main thread: start-up order and the menu's choices. The tray
/// and its menu, the update notice and the Control Panel launcher do the work.
class AppDelegate : public QObject {
    Q_OBJECT
  public:
    explicit AppDelegate(ShellDeps deps, QObject* parent = nullptr);
    ~AppDelegate() override;

    /// The shell's part of start-up, after the server and relay are running: menu, login item
    /// (on the first run, unless the user runs us as a systemd service), the Control Panel on
    /// the first run or when there is no tray to reach it from, update checks.
    void applicationDidFinishLaunching();
    /// One check at once, then one every 24 hours.
    void scheduleUpdateChecks();
    /// One manifest check; a newer version shows the update entry, its notes and tool tip.
    void runUpdateCheck();
    /// Opens the pending update's download address in the browser.
    void openUpdate();
    /// Creates the menu, and the tray item once the desktop has a tray host.
    void setupMenuBar();
    /// Shows the Control Panel (created once, then only brought to the front).
    void showPanel();
    /// Shows the pairing PIN in a modal dialog.
    void showPIN();

    /// The text shown in the PIN dialog for `pin`.
    static QString pinMessage(const QString& pin);
    /// The Control Panel's address for `port`.
    static QUrl panelUrl(quint16 port);

    /// The tray item; null until the desktop has a tray host.
    QSystemTrayIcon* statusItem() const;
    /// The Control Panel window, once opened in our own window.
    QWidget* window() const;
    /// The last update reported.
    const std::optional<update::UpdateInfo>& pendingUpdate() const;

  Q_SIGNALS:
    /// After each update check has been handled; `found` when it reported an update.
    void updateCheckFinished(bool found);

  private:
    bool openExternally(const QUrl& url) const;
    void noteMissingTray();

    ShellDeps deps_;
    TrayMenu* tray_;
    UpdateNotice* updates_;
    PanelLauncher* panel_;
};

/// True when the session or the service manager started us (login, systemd), not the user.
bool startedBySession();

} // namespace hb::app
