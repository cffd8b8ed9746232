#pragma once
#include "update/UpdateCheck.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace hb::app {

/// What the desktop shell needs from the rest of the agent.
struct ShellDeps {
    std::function<quint16()> port;     ///< the port the server listens on
    std::function<QString()> pinValue; ///< the current pairing PIN
    std::function<bool()> isFirstRun;  ///< true when this launch created the state file
    QString executablePath;            ///< written into the login item's Exec line
    /// Opens an address in the default browser; QDesktopServices when empty.
    std::function<bool(const QUrl&)> openURL;
};

/// Interval between update checks after the first one at launch.
inline constexpr std::chrono::hours kUpdateCheckInterval{24};

/// The tray agent's shell: tray item and menu, Control Panel window, PIN dialog, login item
/// and update notice. Lives on the main thread for the life of the process.
class AppDelegate : public QObject {
    Q_OBJECT
  public:
    explicit AppDelegate(ShellDeps deps, QObject* parent = nullptr);
    ~AppDelegate() override;

    /// The shell's part of start-up, after the server and relay are running: menu, login item
    /// (unless the user runs us as a systemd service), Control Panel on the first run, update checks.
    void applicationDidFinishLaunching();
    /// One check at once, then one every 24 hours.
    void scheduleUpdateChecks();
    /// One manifest check; a newer version shows the update entry and tray tool tip.
    void runUpdateCheck();
    /// Opens the pending update's download address in the browser.
    void openUpdate();
    /// Creates the tray item and its menu.
    void setupMenuBar();
    /// Shows the Control Panel (created once, then only brought to the front).
    void showPanel();
    /// Shows the pairing PIN in a modal dialog.
    void showPIN();

    /// The text shown in the PIN dialog for `pin`.
    static QString pinMessage(const QString& pin);
    /// The Control Panel's address for `port`.
    static QUrl panelUrl(quint16 port);

    // Fields: set by the operations above, read by tests.
    QSystemTrayIcon* statusItem = nullptr;
    QWidget* window = nullptr; ///< the Control Panel, once opened
    QAction* updateItem = nullptr;
    QAction* updateSep = nullptr;
    std::optional<update::UpdateInfo> pendingUpdate;

    QMenu* menu() const { return menu_; }

    update::UpdateChecker* updateChecker() const { return checker_; }

  Q_SIGNALS:
    /// After each update check has been handled; `found` when it reported an update.
    void updateCheckFinished(bool found);

  private:
    void showUpdate(const update::UpdateInfo& info);
    bool openExternally(const QUrl& url) const;

    ShellDeps deps_;
    QMenu* menu_ = nullptr;
    update::UpdateChecker* checker_;
    QTimer* updateTimer_ = nullptr;
};

} // namespace hb::app
