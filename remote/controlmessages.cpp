// SPDX-License-Identifier: GPL-3.0-or-later

#include "controlmessages.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr std::array<const char*, 5> kMessageNames = {
    "localInfo", "startInput", "stopInput", "startOutput", "stopOutput",
};

QString stringMember(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

qint32 intMember(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isDouble() ? jsonInt32(value.toDouble()) : 0;
}

bool boolMember(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isBool() && value.toBool();
}

} // namespace

const char* locaMessageName(LocaMsgType type) {
    const int index = static_cast<int>(type);
    if (index < 0 || index >= static_cast<int>(kMessageNames.size()))
        return nullptr;
    return kMessageNames[static_cast<std::size_t>(index)];
}

QByteArray composeLocaMessage(LocaMsgType type, const QString& localAddress, qint32 localPort) {
    const char* name = locaMessageName(type);
    if (name == nullptr)
        return {};
    QJsonObject object;
    object.insert(QStringLiteral("message"), QLatin1String(name));
    if (type == LocalInfo) {
        object.insert(QStringLiteral("localPort"), localPort);
        object.insert(QStringLiteral("localAddress"), localAddress);
    }
    // QJsonObject keeps its keys sorted, and the indented form puts one member per line.
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<HostDescription> parseHostInfo(const QString& text) {
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    if (stringMember(object, "message") != QLatin1String("hostInfo"))
        return std::nullopt;
    HostDescription host;
    host.protocol = stringMember(object, "protocol");
    host.channel = intMember(object, "channel");
    host.sampleRate = intMember(object, "sampleRate");
    host.sampleSize = intMember(object, "sampleSize");
    host.frameSize = intMember(object, "frameSize");
    // A port keeps the low 16 bits of whatever integer the host sent.
    host.udpInPort = static_cast<quint16>(intMember(object, "udpInPort") & 0xFFFF);
    host.input = boolMember(object, "input");
    host.output = boolMember(object, "output");
    host.codec = stringMember(object, "codec");
    host.callSign = stringMember(object, "callSign");
    return host;
}

qint32 jsonInt32(double value) {
    if (!std::isfinite(value) || std::trunc(value) != value)
        return 0;
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return 0;
    return static_cast<qint32>(value);
}
