// Any datagram that reaches the panel's UDP port.
#include "framedoubling.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray datagram(reinterpret_cast<const char*>(data), int(size));
    const QByteArray doubled = doubleFrames(datagram);
    // Every 4-byte unit twice in a row, the last one completed with zero bytes.
    const QByteArray units = datagram.leftJustified((datagram.size() + 3) / 4 * 4, '\0');
    if (doubled.size() != 2 * units.size())
        std::abort();
    for (int i = 0; i < doubled.size(); ++i)
        if (doubled[i] != units[i / 8 * 4 + i % 4])
            std::abort();
    return 0;
}
