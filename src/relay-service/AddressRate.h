#pragma once
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>

namespace hb::relay::service {

/// A token bucket per client address: `perSecond` events a second, bursts of twice that.
/// Buckets that have filled up again are forgotten, so memory follows the busy addresses only.
class AddressRate {
  public:
    explicit AddressRate(int perSecond);
    /// Takes one token for `address` at `nowMs` (a monotonic clock); false when none is left.
    bool take(const QHostAddress& address, qint64 nowMs);
    /// Drops the buckets that are full again at `nowMs`.
    void prune(qint64 nowMs);
    qsizetype tracked() const { return buckets_.size(); }

  private:
    struct Bucket {
        double tokens = 0;
        qint64 lastMs = 0;
    };
    double refilled(const Bucket& bucket, qint64 nowMs) const;

    double perMs_;
    double burst_;
    QHash<QHostAddress, Bucket> buckets_;
};

} // namespace hb::relay::service
