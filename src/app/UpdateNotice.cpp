#include "app/UpdateNotice.h"

#include <QTimer>

namespace hb::app {

UpdateNotice::UpdateNotice(std::function<bool(const QUrl&)> openUrl, QObject* parent)
    : QObject(parent), openUrl_(std::move(openUrl)), checker_(new update::UpdateChecker(this)) {}

void UpdateNotice::schedule() {
    check();
    if (timer_)
        return;
    timer_ = new QTimer(this);
    timer_->setInterval(kUpdateCheckInterval);
    connect(timer_, &QTimer::timeout, this, &UpdateNotice::check);
    timer_->start();
}

void UpdateNotice::check() {
    // The checker is our child: the completion never runs after this object is gone.
    checker_->checkForUpdate([this](std::optional<update::UpdateInfo> info) {
        if (info) {
            pendingUpdate_ = info;
            Q_EMIT updateFound(*info);
        }
        Q_EMIT checkFinished(info.has_value());
    });
}

void UpdateNotice::open() {
    if (pendingUpdate_ && openUrl_)
        openUrl_(pendingUpdate_->url);
}

} // namespace hb::app
