// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "rigsimoptions.h"

#include <QByteArray>
#include <QString>

// A control message from the panel, as far as the simulator cares about it.
struct PanelMessage {
    QString message;      // empty when the text is not a JSON object with a string "message"
    QString localAddress; // "localInfo" only
    int localPort = -1;   // "localInfo" only; -1 when absent or not a port number
};

PanelMessage parsePanelMessage(const QString& text);

// The "hostInfo" text announcing the simulator's stream and its UDP input port.
QByteArray composeHostInfo(const RigSimOptions& options, quint16 udpInPort);

// What the fault switches send instead of "hostInfo".
QByteArray malformedHostText();
QByteArray unexpectedHostText();
