// SPDX-License-Identifier: GPL-3.0-or-later
// Any text the host may send as a "hostInfo" message.
#include "controlmessages.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    // A description comes from a JSON object whose "message" reads "hostInfo" once decoded (the
    // text may spell it with escapes), and from nothing else.
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (parseHostInfo(text).has_value() !=
        (document.isObject() && document.object().value("message") == "hostInfo"))
        std::abort();
    return 0;
}
