// SPDX-License-Identifier: GPL-3.0-or-later
// Any text the host may send as a "hostInfo" message: which ones describe a stream is the unit
// tests' business, reads past the ends and undefined behaviour the sanitizers'.
#include "controlmessages.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    parseHostInfo(QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)));
    return 0;
}
