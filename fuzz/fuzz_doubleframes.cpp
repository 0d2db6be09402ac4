// Any datagram that reaches the panel's UDP port.
#include "framedoubling.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray datagram(reinterpret_cast<const char*>(data), int(size));
    const QByteArray doubled = doubleFrames(datagram);
    const int units = (datagram.size() + 3) / 4;
    if (doubled.size() != 8 * units)
        std::abort();
    for (int unit = 0; unit < units; ++unit) {
        char expected[4] = {};
        std::memcpy(expected, datagram.constData() + 4 * unit,
                    std::min(4, datagram.size() - 4 * unit));
        if (std::memcmp(doubled.constData() + 8 * unit, expected, 4) != 0 ||
            std::memcmp(doubled.constData() + 8 * unit + 4, expected, 4) != 0)
            std::abort();
    }
    return 0;
}
