// SPDX-License-Identifier: GPL-3.0-or-later

#include "rigsimprotocol.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

constexpr int kSampleSizeBits = 16;
constexpr double kMaxPort = 65535.0;

} // namespace

PanelMessage parsePanelMessage(const QString& text) {
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    PanelMessage parsed;
    parsed.message = object.value(QStringLiteral("message")).toString();
    parsed.localAddress = object.value(QStringLiteral("localAddress")).toString();
    const QJsonValue port = object.value(QStringLiteral("localPort"));
    const double value = port.toDouble(-1.0);
    if (port.isDouble() && value >= 1.0 && value <= kMaxPort && std::trunc(value) == value)
        parsed.localPort = static_cast<int>(value);
    return parsed;
}

QByteArray composeHostInfo(const RigSimOptions& options, quint16 udpInPort) {
    QJsonObject object{
        {QStringLiteral("message"), QStringLiteral("hostInfo")},
        {QStringLiteral("protocol"), QStringLiteral("umx-rigsim")},
        {QStringLiteral("channel"), options.channels},
        {QStringLiteral("sampleRate"), options.sampleRate},
        {QStringLiteral("sampleSize"), kSampleSizeBits},
        {QStringLiteral("frameSize"), options.frameSize},
        {QStringLiteral("udpInPort"), udpInPort},
        {QStringLiteral("input"), true},
        {QStringLiteral("output"), true},
        {QStringLiteral("codec"), options.codec},
        {QStringLiteral("callSign"), options.callSign},
    };
    if (options.oversizedBytes > 0)
        object.insert(QStringLiteral("padding"), QString(options.oversizedBytes, QLatin1Char('x')));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray malformedHostText() {
    return QByteArrayLiteral("{\"message\": \"hostInfo\", \"sampleRate\": 480");
}

QByteArray unexpectedHostText() {
    return QByteArrayLiteral("{\"message\":\"rigStatus\",\"vfo\":14074000}");
}
