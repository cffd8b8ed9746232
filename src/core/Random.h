#pragma once
#include <QString>
#include <cstdint>

namespace hb {

/// `bytes` bytes from the kernel's secure generator, as 2·bytes lower-case hex digits.
QString randomHex(int bytes);

/// A uniformly drawn integer in [0, bound) from the kernel's secure generator.
std::uint32_t randomBelow(std::uint32_t bound);

} // namespace hb
