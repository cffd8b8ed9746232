#pragma once
#include "update/UpdateCheck.h"

#include <QIcon>
#include <QObject>
#include <chrono>
#include <functional>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace hb::app {

/// How often a desktop without a tray host is asked again whether one has appeared.
inline constexpr std::chrono::seconds kTrayHostPoll{3};

/// The tray item and its menu. The item exists only once the desktop has a tray host: Qt picks
/// its tray protocol when the first item is made, so one made too early would stay invisible.
class TrayMenu : public QObject {
    Q_OBJECT
  public:
    struct Choices {
        std::function<void()> openPanel;
        std::function<void()> showPin;
        std::function<void()> openUpdate;
    };

    TrayMenu(Choices choices, std::function<bool()> hostPresent, QObject* parent = nullptr);
    ~TrayMenu() override;

    /// Builds the menu, and the tray item now when there is a host, else as soon as one appears.
    void setup();
    /// Shows the update entry, the release notes' first line under it, and the tool tip.
    void showUpdate(const update::UpdateInfo& info);

    /// The tray item; null while the desktop has no tray host.
    QSystemTrayIcon* statusItem() const { return statusItem_; }
    QIcon icon() const { return icon_; }

  private:
    void showItem();
    void watchForHost();

    Choices choices_;
    std::function<bool()> hostPresent_;
    QIcon icon_;
    QSystemTrayIcon* statusItem_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* updateItem_ = nullptr;
    QAction* notesItem_ = nullptr;
    QAction* updateSep_ = nullptr;
    QString toolTip_;
    QTimer* hostWatch_ = nullptr;
};

/// The first line of release notes as one menu line: trimmed, cut to `maxLength` with "…".
QString notesLine(const QString& notes, int maxLength = 80);

} // namespace hb::app
