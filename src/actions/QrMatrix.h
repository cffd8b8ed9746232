#pragma once
#include <QString>
#include <optional>
#include <vector>

namespace hb::actions {

/// The modules of a QR code (error correction M), without quiet zone.
struct QrMatrix {
    int size = 0;                  ///< modules per side
    std::vector<bool> darkModules; ///< row by row, size × size

    bool dark(int x, int y) const {
        return x >= 0 && y >= 0 && x < size && y < size && darkModules[static_cast<size_t>(y * size + x)];
    }
};

/// The code for the UTF-8 bytes of `text`, or nothing when it cannot be encoded (too long).
std::optional<QrMatrix> encodeQr(const QString& text);

/// Light modules around the code that readers need to find it.
inline constexpr int kQrQuietModules = 4;

} // namespace hb::actions
