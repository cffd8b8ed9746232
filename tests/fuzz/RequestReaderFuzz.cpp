// Feeds arbitrary bytes to the request reader, split at points the fuzzer chooses, and
// parses every target the same way.
#include "server/RequestReader.h"
#include "server/Target.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first bytes choose up to three split points; the rest is the request.
    if (size < 3)
        return 0;
    const size_t body = size - 3;
    const uint8_t* bytes = data + 3;
    size_t cuts[4] = {data[0] % (body + 1), data[1] % (body + 1), data[2] % (body + 1), body};
    std::sort(cuts, cuts + 3);
    hb::server::RequestReader reader(16 * 1024, 64 * 1024);
    size_t from = 0;
    for (size_t cut : cuts) {
        reader.feed(QByteArrayView(reinterpret_cast<const char*>(bytes) + from, qsizetype(cut - from)));
        from = cut;
    }
    hb::server::parseTarget(QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(body)));
    return 0;
}
