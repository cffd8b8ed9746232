#include "core/Random.h"

#include <QByteArray>
#include <cerrno>
#include <cstdlib>
#include <sys/random.h>

namespace hb {
namespace {

void fillRandom(void* buffer, size_t length) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const ssize_t got = ::getrandom(out, length, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            std::abort(); // no secure randomness: refuse to mint guessable secrets
        }
        out += got;
        length -= static_cast<size_t>(got);
    }
}

} // namespace

QString randomHex(int bytes) {
    if (bytes <= 0)
        return {};
    QByteArray raw(bytes, Qt::Uninitialized);
    fillRandom(raw.data(), static_cast<size_t>(raw.size()));
    return QString::fromLatin1(raw.toHex());
}

std::uint32_t randomBelow(std::uint32_t bound) {
    if (bound <= 1)
        return 0;
    // Rejection sampling keeps the draw uniform.
    const std::uint32_t limit = UINT32_MAX - (UINT32_MAX % bound);
    std::uint32_t value = 0;
    do {
        fillRandom(&value, sizeof value);
    } while (value >= limit);
    return value % bound;
}

} // namespace hb
