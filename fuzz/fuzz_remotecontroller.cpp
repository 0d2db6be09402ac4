// SPDX-License-Identifier: GPL-3.0-or-later
// The controller's whole path for a text frame from the host, on a controller without a
// connection: the public parse and the receive slot behind the WebSocket.
#include "hsremotecontroller.h"
#include "log.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Every rejected text is logged at Error; the fuzzer wants speed, not the lines.
    currentLogLevel = int(LogLevel::Emergency);
    new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto* controller = new HSRemoteController;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    if (controller->parseHostMessage(text) != parseHostInfo(text).has_value() ||
        !QMetaObject::invokeMethod(controller, "wsOnTextMessageReceived", Qt::DirectConnection,
                                   Q_ARG(QString, text)))
        std::abort();
    return 0;
}
