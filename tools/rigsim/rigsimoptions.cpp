// SPDX-License-Identifier: GPL-3.0-or-later

#include "rigsimoptions.h"

#include "umxversion.h"

#include <QCommandLineParser>

#include <limits>

namespace {

constexpr int kMaxSampleRate = 384000;
constexpr int kMaxFrameSize = 16384;
constexpr int kMaxChannels = 8;
constexpr int kMaxSeconds = 86400;
constexpr double kMaxToneHz = 100000.0;
// Far beyond any real sound card (they differ by up to a few hundred ppm), still audio.
constexpr double kMaxClockPpm = 100000.0;
constexpr int kMaxJitterMs = 1000;
// A handover is over in well under a second; a minute is a link that has gone.
constexpr int kMaxStallMs = 60000;
// Large enough to exceed any frame a WebSocket library keeps in one piece.
constexpr int kMaxOversizedBytes = 64 * 1024 * 1024;

int intValue(const QCommandLineParser& parser, const QString& name, int low, int high,
             QString* error) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if ((!ok || value < low || value > high) && error->isEmpty()) {
        *error = QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                     .arg(name)
                     .arg(low)
                     .arg(high)
                     .arg(parser.value(name));
        return 0;
    }
    return value;
}

double hzValue(const QCommandLineParser& parser, const QString& name, QString* error) {
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if ((!ok || !(value > 0.0) || value > kMaxToneHz) && error->isEmpty()) {
        *error = QStringLiteral("--%1 wants a frequency in Hz above 0, not \"%2\"")
                     .arg(name, parser.value(name));
        return 0.0;
    }
    return value;
}

double numberValue(const QCommandLineParser& parser, const QString& name, double low, double high,
                   QString* error) {
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if ((!ok || !(value >= low && value <= high)) && error->isEmpty()) {
        *error = QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"")
                     .arg(name)
                     .arg(low)
                     .arg(high)
                     .arg(parser.value(name));
        return 0.0;
    }
    return value;
}

bool parseListen(const QString& text, RigSimOptions* options, QString* error) {
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? QString() : text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = colon < 0 ? 0 : text.mid(colon + 1).toUInt(&ok);
    const QHostAddress address(host);
    if (colon < 0 || !ok || port > std::numeric_limits<quint16>::max() || address.isNull()) {
        *error = QStringLiteral("--listen wants ADDRESS:PORT with a numeric address, not \"%1\"")
                     .arg(text);
        return false;
    }
    options->listenAddress = address;
    options->listenPort = static_cast<quint16>(port);
    return true;
}

} // namespace

ParsedOptions parseRigSimOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Rig simulator: serves the uMX control channel over WebSocket, streams stereo test audio "
        "to the panel over UDP and receives the panel's mono audio.\n"
        "Prints one line \"ready ws://ADDRESS:PORT udp-in PORT\" when it accepts connections, "
        "then one line per event and, while audio arrives, one line per second with its rate and "
        "level. SIGINT or SIGTERM shut it down cleanly. Exit status: 0 after a clean shutdown, "
        "1 when a port or file cannot be used, 2 for bad options."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOptions({
        {QStringLiteral("listen"),
         QStringLiteral("Serve the control channel on ADDRESS:PORT (port 0: any free port). "
                        "Default 127.0.0.1:4590."),
         QStringLiteral("address:port"), QStringLiteral("127.0.0.1:4590")},
        {QStringLiteral("sample-rate"),
         QStringLiteral("Sample rate announced and streamed. Default 48000."), QStringLiteral("hz"),
         QStringLiteral("48000")},
        {QStringLiteral("frame-size"),
         QStringLiteral("Stereo frames per datagram (4 bytes each). Default 512."),
         QStringLiteral("frames"), QStringLiteral("512")},
        {QStringLiteral("channels"),
         QStringLiteral("Channel count announced in hostInfo (audio is always stereo). "
                        "Default 2."),
         QStringLiteral("n"), QStringLiteral("2")},
        {QStringLiteral("codec"),
         QStringLiteral("Codec name announced in hostInfo. Default pcm16."), QStringLiteral("name"),
         QStringLiteral("pcm16")},
        {QStringLiteral("call-sign"),
         QStringLiteral("Call sign announced in hostInfo. Default RIGSIM."), QStringLiteral("call"),
         QStringLiteral("RIGSIM")},
        {QStringLiteral("udp-in-port"),
         QStringLiteral("UDP port that receives the panel's audio (0: any free port). "
                        "Default 4591."),
         QStringLiteral("port"), QStringLiteral("4591")},
        {QStringLiteral("tone-left"),
         QStringLiteral("Left channel test tone, -6 dBFS. Default 1000."), QStringLiteral("hz"),
         QStringLiteral("1000")},
        {QStringLiteral("tone-right"),
         QStringLiteral("Right channel test tone, -6 dBFS. Default 1500."), QStringLiteral("hz"),
         QStringLiteral("1500")},
        {QStringLiteral("moving"),
         QStringLiteral("Move the tones' levels like speech: each swells and fades several times "
                        "a second.")},
        {QStringLiteral("wav"),
         QStringLiteral("Stream this 16-bit PCM WAV file (mono or stereo, looped) instead of "
                        "the tones."),
         QStringLiteral("file")},
        {QStringLiteral("marks"),
         QStringLiteral("Timing marks: the right channel carries silence and, at every whole "
                        "second of the host's sample time, a 10 ms 2000 Hz burst that starts at "
                        "its peak; each is logged as \"mark N at NS ns\", NS being when the "
                        "host's clock produced it on the monotonic clock (CLOCK_MONOTONIC).")},
        {QStringLiteral("record"),
         QStringLiteral("Record the panel's audio to this WAV file (mono, 16-bit)."),
         QStringLiteral("file")},
        {QStringLiteral("refuse"),
         QStringLiteral("Fault: refuse every WebSocket handshake (HTTP 403).")},
        {QStringLiteral("drop-after"),
         QStringLiteral("Fault: drop each connection N seconds after it was accepted."),
         QStringLiteral("seconds")},
        {QStringLiteral("silent-after"),
         QStringLiteral("Fault: stop the audio N seconds after it started; the control "
                        "channel stays up."),
         QStringLiteral("seconds")},
        {QStringLiteral("send-malformed"),
         QStringLiteral("Fault: answer localInfo with text that is not JSON.")},
        {QStringLiteral("send-unexpected"),
         QStringLiteral("Fault: answer localInfo with a JSON message that is not hostInfo.")},
        {QStringLiteral("hang-after"),
         QStringLiteral("Fault: N seconds after a connection was accepted, stop serving "
                        "everything (pings, control, audio) for --hang-for seconds."),
         QStringLiteral("seconds")},
        {QStringLiteral("hang-for"), QStringLiteral("Length of the hang. Default 10."),
         QStringLiteral("seconds"), QStringLiteral("10")},
        {QStringLiteral("hang-keeps-audio"),
         QStringLiteral("Fault: during the hang the audio keeps flowing; only the control "
                        "channel (pongs included) is dead.")},
        {QStringLiteral("send-oversized"),
         QStringLiteral("Fault: pad hostInfo with an unknown member to at least N bytes."),
         QStringLiteral("bytes")},
        {QStringLiteral("clock-ppm"),
         QStringLiteral("Fault: the host's sample clock runs P ppm fast (positive) or slow "
                        "(negative): datagrams leave at rate x (1 + P/1000000) in real time."),
         QStringLiteral("ppm")},
        {QStringLiteral("jitter"),
         QStringLiteral("Fault: hold each datagram back by a random 0 to MS ms; a datagram never "
                        "leaves before the one ahead of it."),
         QStringLiteral("ms")},
        {QStringLiteral("jitter-tail"),
         QStringLiteral("Fault: hold each datagram back by a random delay with a heavy tail "
                        "(exponential, MS ms on average, at most a second), as on a radio link; a "
                        "datagram never leaves before the one ahead of it."),
         QStringLiteral("ms")},
        {QStringLiteral("jitter-for"),
         QStringLiteral("Jitter only for the stream's first S seconds, then none."),
         QStringLiteral("seconds")},
        {QStringLiteral("loss"),
         QStringLiteral("Fault: drop PCT per cent of the datagrams at random; each is logged as "
                        "\"loss: datagram K dropped\"."),
         QStringLiteral("pct")},
        {QStringLiteral("stall-every"),
         QStringLiteral("Fault: every S seconds of the stream the link delivers nothing for "
                        "--stall-for ms, then the backlog at once, nothing lost (a mobile link's "
                        "handover); each is logged as \"stall: MS ms at NS ns\", NS being when it "
                        "began on the monotonic clock."),
         QStringLiteral("seconds")},
        {QStringLiteral("stall-for"), QStringLiteral("Length of each stall."),
         QStringLiteral("ms")},
        {QStringLiteral("seed"),
         QStringLiteral("Seed of the jitter and loss draws: the same seed gives the same faults. "
                        "Default 1."),
         QStringLiteral("n"), QStringLiteral("1")},
        {QStringLiteral("announce-dead-port"),
         QStringLiteral("Fault: announce a UDP input port that nobody listens on.")},
    });

    ParsedOptions result;
    if (!parser.parse(arguments)) {
        result.text = parser.errorText();
        return result;
    }
    if (parser.isSet(help)) {
        result.outcome = OptionsOutcome::ShowHelp;
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.outcome = OptionsOutcome::ShowVersion;
        result.text = QStringLiteral("umx-rigsim ") + kUmxVersion;
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.text = QStringLiteral("unexpected argument \"%1\"")
                          .arg(parser.positionalArguments().constFirst());
        return result;
    }

    RigSimOptions& o = result.options;
    QString error;
    if (!parseListen(parser.value(QStringLiteral("listen")), &o, &error)) {
        result.text = error;
        return result;
    }
    o.sampleRate = intValue(parser, QStringLiteral("sample-rate"), 1, kMaxSampleRate, &error);
    o.frameSize = intValue(parser, QStringLiteral("frame-size"), 1, kMaxFrameSize, &error);
    o.channels = intValue(parser, QStringLiteral("channels"), 1, kMaxChannels, &error);
    o.udpInPort = static_cast<quint16>(intValue(parser, QStringLiteral("udp-in-port"), 0,
                                                std::numeric_limits<quint16>::max(), &error));
    o.leftHz = hzValue(parser, QStringLiteral("tone-left"), &error);
    o.rightHz = hzValue(parser, QStringLiteral("tone-right"), &error);
    o.moving = parser.isSet(QStringLiteral("moving"));
    o.codec = parser.value(QStringLiteral("codec"));
    o.callSign = parser.value(QStringLiteral("call-sign"));
    o.wavPath = parser.value(QStringLiteral("wav"));
    o.recordPath = parser.value(QStringLiteral("record"));
    o.refuse = parser.isSet(QStringLiteral("refuse"));
    o.sendMalformed = parser.isSet(QStringLiteral("send-malformed"));
    o.sendUnexpected = parser.isSet(QStringLiteral("send-unexpected"));
    o.announceDeadPort = parser.isSet(QStringLiteral("announce-dead-port"));
    const auto seconds = [&](const char* name, int* target) {
        if (parser.isSet(QLatin1String(name)))
            *target = intValue(parser, QLatin1String(name), 0, kMaxSeconds, &error);
    };
    seconds("drop-after", &o.dropAfterS);
    seconds("silent-after", &o.silentAfterS);
    seconds("hang-after", &o.hangAfterS);
    if (parser.isSet(QStringLiteral("send-oversized")))
        o.oversizedBytes =
            intValue(parser, QStringLiteral("send-oversized"), 0, kMaxOversizedBytes, &error);
    o.marks = parser.isSet(QStringLiteral("marks"));
    if (parser.isSet(QStringLiteral("clock-ppm")))
        o.clockPpm =
            numberValue(parser, QStringLiteral("clock-ppm"), -kMaxClockPpm, kMaxClockPpm, &error);
    if (parser.isSet(QStringLiteral("jitter")))
        o.network.jitterMs = intValue(parser, QStringLiteral("jitter"), 0, kMaxJitterMs, &error);
    if (parser.isSet(QStringLiteral("jitter-tail")))
        o.network.tailMeanMs =
            numberValue(parser, QStringLiteral("jitter-tail"), 0.1, kMaxJitterMs, &error);
    seconds("jitter-for", &o.network.jitterForS);
    if (parser.isSet(QStringLiteral("loss")))
        o.network.lossPercent = numberValue(parser, QStringLiteral("loss"), 0.0, 100.0, &error);
    if (parser.isSet(QStringLiteral("stall-every")))
        o.network.stallEveryS =
            intValue(parser, QStringLiteral("stall-every"), 1, kMaxSeconds, &error);
    if (parser.isSet(QStringLiteral("stall-for")))
        o.network.stallForMs =
            intValue(parser, QStringLiteral("stall-for"), 1, kMaxStallMs, &error);
    bool seedOk = false;
    o.network.seed = parser.value(QStringLiteral("seed")).toULongLong(&seedOk);
    if (!seedOk && error.isEmpty())
        error = QStringLiteral("--seed wants a whole number from 0, not \"%1\"")
                    .arg(parser.value(QStringLiteral("seed")));
    if (o.network.jitterMs > 0 && o.network.tailMeanMs > 0 && error.isEmpty())
        error = QStringLiteral("--jitter and --jitter-tail exclude each other");
    if (o.network.jitterForS >= 0 && o.network.jitterMs == 0 && o.network.tailMeanMs == 0 &&
        error.isEmpty())
        error = QStringLiteral("--jitter-for needs --jitter or --jitter-tail");
    if ((o.network.stallEveryS > 0) != (o.network.stallForMs > 0) && error.isEmpty())
        error = QStringLiteral("--stall-every and --stall-for go together");
    if (o.network.stallEveryS > 0 && o.network.stallForMs >= o.network.stallEveryS * 1000 &&
        error.isEmpty())
        error = QStringLiteral("--stall-for must be shorter than --stall-every");
    o.hangForS = intValue(parser, QStringLiteral("hang-for"), 0, kMaxSeconds, &error);
    o.hangKeepsAudio = parser.isSet(QStringLiteral("hang-keeps-audio"));
    if (o.hangKeepsAudio && o.hangAfterS < 0)
        error = QStringLiteral("--hang-keeps-audio needs --hang-after");
    if (o.sendMalformed && o.sendUnexpected)
        error = QStringLiteral("--send-malformed and --send-unexpected exclude each other");
    if (!error.isEmpty()) {
        result.text = error;
        return result;
    }
    result.outcome = OptionsOutcome::Run;
    return result;
}
