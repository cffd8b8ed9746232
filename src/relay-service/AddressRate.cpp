#include "relay-service/AddressRate.h"

#include <algorithm>

namespace hb::relay::service {

AddressRate::AddressRate(int perSecond) : perMs_(perSecond / 1000.0), burst_(2.0 * perSecond) {}

double AddressRate::refilled(const Bucket& bucket, qint64 nowMs) const {
    return std::min(burst_, bucket.tokens + double(nowMs - bucket.lastMs) * perMs_);
}

bool AddressRate::take(const QHostAddress& address, qint64 nowMs) {
    if (burst_ <= 0)
        return true;
    const auto it = buckets_.find(address);
    Bucket bucket = it == buckets_.end() ? Bucket{burst_, nowMs} : *it;
    bucket.tokens = refilled(bucket, nowMs);
    bucket.lastMs = nowMs;
    if (bucket.tokens < 1) {
        buckets_.insert(address, bucket);
        return false;
    }
    bucket.tokens -= 1;
    buckets_.insert(address, bucket);
    return true;
}

void AddressRate::prune(qint64 nowMs) {
    buckets_.removeIf([&](const auto& entry) { return refilled(entry.value(), nowMs) >= burst_; });
}

} // namespace hb::relay::service
