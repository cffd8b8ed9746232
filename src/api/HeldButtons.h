#pragma once
// Pointer buttons a phone pressed ("down") and has not released. A press is released by the
// agent once the hold limit passes with neither its "up" nor any motion from the phone, so a
// phone that drops off never leaves a button held, while a long drag still in progress is kept.
#include "actions/Actions.h"
#include "core/HandOff.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

namespace hb::api {

class HeldButtons : public std::enable_shared_from_this<HeldButtons> {
    using Clock = std::chrono::steady_clock;

  public:
    std::chrono::milliseconds limit{10'000};

    /// Records a press of `button` on `input`, and schedules its release.
    void pressed(actions::Input& input, actions::PointerButton button) {
        quint64 press = 0;
        {
            std::lock_guard lock(mutex_);
            press = ++counter_;
            held_[button] = Held{press, Clock::now() + limit};
        }
        watch(input, button, press, limit);
    }

    /// The phone is still there (it moved or scrolled): held buttons get the full limit again.
    void renewed() {
        std::lock_guard lock(mutex_);
        for (auto& [button, held] : held_)
            held.deadline = Clock::now() + limit;
    }

    /// The phone released `button` (or clicked it): no release is due any more.
    void released(actions::PointerButton button) {
        std::lock_guard lock(mutex_);
        held_.erase(button);
    }

  private:
    struct Held {
        quint64 press;
        Clock::time_point deadline;
    };

    /// After `delay`, on the application's thread: releases the press if it is still held and
    /// due, or looks again when it was renewed. Holds this object only weakly, so a release due
    /// after the agent is gone does nothing.
    void watch(actions::Input& input, actions::PointerButton button, quint64 press,
               std::chrono::milliseconds delay) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        std::weak_ptr<HeldButtons> self = weak_from_this();
        // Through the hand-off helpers, so the race detector sees the weak reference handed over.
        postTo(app, [self, delay, &input, button, press, app] {
            QTimer::singleShot(delay, app, [self, &input, button, press] {
                if (const auto buttons = self.lock())
                    buttons->check(input, button, press);
            });
        });
    }

    void check(actions::Input& input, actions::PointerButton button, quint64 press) {
        std::unique_lock lock(mutex_);
        const auto it = held_.find(button);
        if (it == held_.end() || it->second.press != press)
            return;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(it->second.deadline - Clock::now());
        if (left.count() > 0) {
            lock.unlock();
            return watch(input, button, press, left);
        }
        held_.erase(it);
        lock.unlock();
        input.pointer({actions::PointerCommand::Kind::Button, 0, 0, button, actions::ButtonAction::Up});
    }

    std::mutex mutex_;
    std::map<actions::PointerButton, Held> held_;
    quint64 counter_ = 0;
};

} // namespace hb::api
