// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "faultschedule.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

// Everything the rig simulator can be told on its command line.
struct RigSimOptions {
    static constexpr quint16 kDefaultControlPort = 4590;
    static constexpr quint16 kDefaultUdpInPort = 4591;

    QHostAddress listenAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 listenPort = kDefaultControlPort;
    int sampleRate = 48000;
    int frameSize = 512;
    int channels = 2;
    QString codec = QStringLiteral("pcm16");
    QString callSign = QStringLiteral("RIGSIM");
    quint16 udpInPort = kDefaultUdpInPort;
    double leftHz = 1000.0;
    double rightHz = 1500.0;
    bool moving = false;
    QString wavPath;
    QString recordPath;
    bool marks = false;

    // The host's sample clock runs this many ppm fast (+) or slow (-).
    double clockPpm = 0.0;
    NetworkFaults network;

    // Fault switches; a negative number of seconds means off.
    bool refuse = false;
    int dropAfterS = -1;
    int silentAfterS = -1;
    bool sendMalformed = false;
    bool sendUnexpected = false;
    int hangAfterS = -1;
    int hangForS = 0;
    bool hangKeepsAudio = false;
    bool announceDeadPort = false;
    // hostInfo padded to at least this many bytes; 0 means off.
    int oversizedBytes = 0;
};

enum class OptionsOutcome { Run, ShowHelp, ShowVersion, Error };

struct ParsedOptions {
    OptionsOutcome outcome = OptionsOutcome::Error;
    RigSimOptions options;
    QString text; // the help or version text, or the error
};

// Reads the command line (arguments[0] is the program name). Never exits or prints.
ParsedOptions parseRigSimOptions(const QStringList& arguments);
