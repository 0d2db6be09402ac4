// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// Type of a control message the panel sends to the host; the values are part of the log lines.
enum LocaMsgType {
    LocalInfo = 0,
    StartInput = 1,
    StopInput = 2,
    StartOutput = 3,
    StopOutput = 4,
};

// The panel's end of the audio channel, announced to the host in "localInfo".
struct LocalEndpoint {
    QString address;
    qint32 port = 2476;
};

// The host's audio stream as described by its "hostInfo" message. The audio starts from the rate,
// the frame size and the port; the rest is logged or kept as the host sent it.
struct HostDescription {
    QString protocol;
    qint32 channel = 0;
    qint32 sampleRate = 0;
    qint32 sampleSize = 0;
    qint32 frameSize = 0;
    quint16 udpInPort = 0;
    bool input = false;
    bool output = false;
    QString codec;
    QString callSign;
};

// The "message" text of a type, or nullptr for a value that is not a known type.
const char* locaMessageName(LocaMsgType type);

// The UTF-8 JSON text (indented, keys in ascending order, closing newline) of an outgoing message;
// empty for an unknown type. Only "localInfo" carries the local endpoint.
QByteArray composeLocaMessage(LocaMsgType type, const QString& localAddress, qint32 localPort);

// The description carried by a "hostInfo" text; nothing when the text is not a JSON object whose
// "message" is exactly "hostInfo". Absent or mistyped members take their defaults.
std::optional<HostDescription> parseHostInfo(const QString& text);

// A JSON integer as the host sends it: integral and within 32 bits, otherwise 0.
qint32 jsonInt32(double value);
