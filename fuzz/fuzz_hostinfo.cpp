// Any text the host may send as a "hostInfo" message.
#include "controlmessages.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const std::optional<HostDescription> host = parseHostInfo(text);
    // A description is only ever made from a text that names itself "hostInfo".
    if (host && !text.contains(QLatin1String("hostInfo")))
        std::abort();
    return 0;
}
