// Any text the host may send as a "hostInfo" message.
#include "controlmessages.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const std::optional<HostDescription> host = parseHostInfo(text);
    // A description comes from a JSON object whose "message" reads "hostInfo" once decoded (the
    // text may spell it with escapes), and from nothing else.
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    const bool isHostInfo =
        document.isObject() &&
        document.object().value(QLatin1String("message")) == QLatin1String("hostInfo");
    if (host.has_value() != isHostInfo)
        std::abort();
    return 0;
}
