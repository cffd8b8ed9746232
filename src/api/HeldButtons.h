#pragma once
// Pointer buttons a phone pressed ("down") and has not released. Each press is released by
// the agent once the hold limit passes without its "up", so a phone that drops off never
// leaves a button held on the desktop.
#include "actions/Actions.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

namespace hb::api {

class HeldButtons : public std::enable_shared_from_this<HeldButtons> {
  public:
    std::chrono::milliseconds limit{10'000};

    /// Records a press of `button` on `input`, and schedules its release.
    void pressed(actions::Input& input, actions::PointerButton button) {
        quint64 press = 0;
        {
            std::lock_guard lock(mutex_);
            press = presses_[button] = ++counter_;
        }
        // The timer runs on the application's thread; it holds this object only weakly, so a
        // release due after the agent is gone does nothing.
        std::weak_ptr<HeldButtons> self = weak_from_this();
        const auto delay = limit;
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, delay, &input, button, press] {
            QTimer::singleShot(delay, QCoreApplication::instance(), [self, &input, button, press] {
                if (const auto held = self.lock(); held && held->take(button, press))
                    input.pointer(
                        {actions::PointerCommand::Kind::Button, 0, 0, button, actions::ButtonAction::Up});
            });
        });
    }

    /// The phone released `button` (or clicked it): no release is due any more.
    void released(actions::PointerButton button) {
        std::lock_guard lock(mutex_);
        presses_.erase(button);
    }

  private:
    /// True when `press` is still the button's latest unreleased press; forgets it.
    bool take(actions::PointerButton button, quint64 press) {
        std::lock_guard lock(mutex_);
        const auto it = presses_.find(button);
        if (it == presses_.end() || it->second != press)
            return false;
        presses_.erase(it);
        return true;
    }

    std::mutex mutex_;
    std::map<actions::PointerButton, quint64> presses_;
    quint64 counter_ = 0;
};

} // namespace hb::api
