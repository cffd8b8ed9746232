#include "KeyboardKeys.h"

#include <QList>
#include <algorithm>

namespace hb::actions {

namespace {

constexpr char32_t kLastUnicode = 0x10FFFF;

bool isLatin1Printable(char32_t c) {
    return (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF);
}
bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}
bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

} // namespace

std::optional<Keysym> keysymForCodePoint(char32_t codePoint) {
    if (codePoint == U'\n' || codePoint == U'\r')
        return keysym::kReturn;
    if (codePoint == U'\t')
        return keysym::kTab;
    if (isLatin1Printable(codePoint))
        return codePoint;
    if (isControl(codePoint) || isSurrogate(codePoint) || codePoint > kLastUnicode)
        return std::nullopt;
    return keysym::kUnicodeBase + codePoint;
}

std::vector<Keysym> keysymsForText(const QString& text) {
    const QList<uint> codePoints = text.toUcs4();
    std::vector<Keysym> keysyms;
    keysyms.reserve(codePoints.size());
    for (qsizetype i = 0; i < codePoints.size(); ++i) {
        const bool crBeforeLf =
            codePoints[i] == U'\r' && i + 1 < codePoints.size() && codePoints[i + 1] == U'\n';
        if (crBeforeLf)
            continue;
        if (const auto sym = keysymForCodePoint(codePoints[i]))
            keysyms.push_back(*sym);
    }
    return keysyms;
}

std::vector<std::vector<Keysym>> batchesForSpareKeys(const std::vector<Keysym>& keysyms,
                                                     std::size_t distinctLimit,
                                                     const std::function<bool(Keysym)>& needsSpare) {
    std::vector<std::vector<Keysym>> batches;
    std::vector<Keysym> distinct;
    for (const Keysym sym : keysyms) {
        const bool spare = needsSpare(sym);
        const bool known = std::find(distinct.begin(), distinct.end(), sym) != distinct.end();
        if (spare && !known && distinct.size() == distinctLimit) {
            if (distinctLimit == 0)
                return {};
            distinct.clear();
            batches.emplace_back();
        }
        if (batches.empty())
            batches.emplace_back();
        if (spare && !known)
            distinct.push_back(sym);
        batches.back().push_back(sym);
    }
    return batches;
}

} // namespace hb::actions
