#pragma once
#include "update/UpdateCheck.h"

#include <QObject>
#include <chrono>
#include <functional>
#include <optional>

class QTimer;

namespace hb::app {

/// Interval between update checks after the first one at launch.
inline constexpr std::chrono::hours kUpdateCheckInterval{24};

/// Checks for a newer release at launch and daily, and opens its download address on request.
class UpdateNotice : public QObject {
    Q_OBJECT
  public:
    UpdateNotice(std::function<bool(const QUrl&)> openUrl, QObject* parent = nullptr);

    /// One check at once, then one every 24 hours.
    void schedule();
    /// One manifest check; a newer version is kept and announced.
    void check();
    /// Opens the pending update's address; nothing when none is known.
    void open();

    /// The last update reported; never cleared.
    const std::optional<update::UpdateInfo>& pendingUpdate() const { return pendingUpdate_; }

  Q_SIGNALS:
    void updateFound(const hb::update::UpdateInfo& info);
    /// After each check; `found` when it reported an update.
    void checkFinished(bool found);

  private:
    std::function<bool(const QUrl&)> openUrl_;
    update::UpdateChecker* checker_;
    QTimer* timer_ = nullptr;
    std::optional<update::UpdateInfo> pendingUpdate_;
};

} // namespace hb::app
