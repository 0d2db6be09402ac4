// SPDX-License-Identifier: GPL-3.0-or-later
// Any datagram that reaches the panel's UDP port.
#include "framedoubling.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray datagram(reinterpret_cast<const char*>(data), int(size));
    // Every 4-byte unit twice in a row, the last one completed with zero bytes; what the bytes
    // hold is the unit tests' business, reads and writes past the ends the sanitizers'.
    if (doubleFrames(datagram).size() != int((size + 3) / 4 * 8))
        std::abort();
    return 0;
}
