// The panel as its operator runs it: the real umx executable, its window under the X server, its
// connect button pressed through the keyboard, the rig simulator at the far end of the control
// channel and the audio server's cables at the far end of the sound devices.

#include "e2eprocess.h"
#include "toneanalysis.h"
#include "tonegenerator.h"
#include "wavfile.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <cstdio>
#include <memory>

namespace {

const QString kWindowTitle = QStringLiteral("UMX control panel 1.5.2");
const QString kLockBoxTitle = QStringLiteral("UMX Control Panel");
const QString kServerName = QStringLiteral("umx_e2e");
const QString kPlaybackDevice = QStringLiteral("Line Volume (2- UMX VAC)");
const QString kCaptureDevice = QStringLiteral("Line In (UMX VAC)");
const QString kSpeakerDevice = QStringLiteral("UMX Speaker");
const QString kRxFarEnd = QStringLiteral("UMX VAC RX Out");
const QString kTxFarEnd = QStringLiteral("UMX VAC TX In");
const QString kSpeakerFarEnd = QStringLiteral("UMX Speaker Monitor");

constexpr int kCableRate = 96000;
constexpr int kHostRate = 48000;
constexpr double kLeftHz = 1000.0;
constexpr double kRightHz = 1500.0;
constexpr double kTransmitHz = 700.0;
constexpr int kMaxDatagramBytes = 1460;
// The simulator's tones are at -6 dBFS (amplitude 0.5); a recording that catches a short gap in
// the playback on a loaded machine reads lower, silence reads near 0.
constexpr double kToneAmplitude = 0.5;
constexpr double kMinToneAmplitude = 0.15;
// The other tone of a pair, as heard where it does not belong: at least 40 dB down.
constexpr double kCrosstalkRatio = 0.01;

constexpr int kStartMs = 15000;
constexpr int kKeyAttempts = 5;
constexpr int kKeyEffectMs = 1000;
// Bigger than the tray icon's window, smaller than any box.
constexpr int kMinWindowSide = 48;
constexpr int kConnectMs = 10000;
constexpr int kShortMs = 5000;
// The link watchdog ticks every 2 s and gives up at the fifth low tick.
constexpr int kLostLinkMs = 20000;
// A ping every 30 s, its pong due within 5 s.
constexpr int kPongTimeoutMs = 35000;

const QRegularExpression kHostReady(QStringLiteral("MainWindow: host ready to sent$"));
const QRegularExpression kHostDisconnected(QStringLiteral("MainWindow: host disconnected main$"));
const QRegularExpression kAudioStarted(QStringLiteral("^audio started to "));
const QRegularExpression kClientConnected(QStringLiteral("^client \\S+ connected$"));
const QRegularExpression kStopOutput(QStringLiteral("^<- .*\"stopOutput\""));
const QRegularExpression kStartOutput(QStringLiteral("^<- .*\"startOutput\""));
const QRegularExpression kHostInfoSent(QStringLiteral("^-> .*\"hostInfo\""));
const QRegularExpression
    kClosedNormally(QStringLiteral("^client \\S+ disconnected \\(close code 1000\\)$"));
const QRegularExpression
    kReconnectScheduled(QStringLiteral("RemoteCtrl: scheduleReconnect — delay="));

QRegularExpression exactly(const QString& text) {
    return QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(text) +
                              QLatin1Char('$'));
}

quint16 freeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

struct Run {
    QString output;
    int exitCode = -1;
};

// What the audio server's clients need in their environment (`scripts/audio-server env`).
QProcessEnvironment& audioClientEnvironment() {
    static QProcessEnvironment environment;
    return environment;
}

// A short helper program (xdotool, import, arecord, ...) run to its end.
Run runTool(const QString& program, const QStringList& arguments, int timeoutMs = kShortMs,
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess tool;
    tool.setProcessEnvironment(environment);
    tool.start(program, arguments);
    Run run;
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished();
        run.output = QString::fromUtf8(tool.readAllStandardError());
        return run;
    }
    run.output = QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    if (run.output.isEmpty())
        run.output = QString::fromUtf8(tool.readAllStandardError()).trimmed();
    run.exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return run;
}

// What the settings store holds before the panel starts.
struct Seed {
    int audioOutMode = 0;
    bool speakerOn = true;
    QString outputDevice = kPlaybackDevice;
    QString inputDevice = kCaptureDevice;
    QString speakerDevice = kSpeakerDevice;
};

// Bar colours: dark, and the low, middle and high zones when lit.
const QRgb kDarkBar = qRgb(30, 30, 30);
const QRgb kLitBars[] = {qRgb(44, 173, 246), qRgb(88, 223, 15), qRgb(249, 55, 28)};

// Pixels of the three level meters' bars in a window picture.
struct MeterPixels {
    int lit = 0;
    int dark = 0;
    bool operator==(const MeterPixels& other) const {
        return lit == other.lit && dark == other.dark;
    }
};

// The area of the meters' bars: where the idle window shows dark bars.
QRect barArea(const QImage& idle) {
    QRect area;
    const QImage image = idle.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) | 0xff000000u) == kDarkBar)
                area |= QRect(x, y, 1, 1);
        }
    }
    return area;
}

MeterPixels meterPixels(const QImage& picture, const QRect& area) {
    MeterPixels pixels;
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb pixel = image.pixel(x, y) | 0xff000000u;
            if (pixel == kDarkBar)
                ++pixels.dark;
            else if (pixel == kLitBars[0] || pixel == kLitBars[1] || pixel == kLitBars[2])
                ++pixels.lit;
        }
    }
    return pixels;
}

} // namespace

// One panel and its rig: their own settings store, temporary folder (the single-instance lock),
// runtime folder and ports, so sessions never see each other.
class Session : public QObject {
    Q_OBJECT

public:
    Session(const QString& name_, const QElapsedTimer& clock, QObject* parent = nullptr)
        : QObject(parent)
        , name(name_)
        , rig(new E2eProcess(name_ + QStringLiteral(" umx-rigsim"), clock, this))
        , panel(new E2eProcess(name_ + QStringLiteral(" umx"), clock, this))
        , clockRef(clock) {
        QDir(dir.path()).mkpath(QStringLiteral("config/Hoska"));
        QDir(dir.path()).mkpath(QStringLiteral("tmp"));
        QDir(dir.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(dir.filePath(QStringLiteral("runtime")), QFileDevice::ReadOwner |
                                                                           QFileDevice::WriteOwner |
                                                                           QFileDevice::ExeOwner);
        panelUdpPort = freeUdpPort();
    }
    ~Session() override {
        stopAll();
        // What both programs said is the first thing to read when a check fails.
        if (QTest::currentTestFailed())
            std::fputs(qPrintable(transcripts()), stderr);
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("JACK_DEFAULT_SERVER"), kServerName);
        env.insert(QStringLiteral("JACK_NO_START_SERVER"), QStringLiteral("1"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("TMPDIR"), dir.filePath(QStringLiteral("tmp")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(audioClientEnvironment());
        return env;
    }

    // Starts the simulator, on a free port unless told which, and waits for its ready line.
    bool startRig(const QStringList& extra, quint16 port = 0) {
        const QStringList arguments =
            QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port),
                        QStringLiteral("--udp-in-port"), QStringLiteral("0")} +
            extra;
        rig->start(qEnvironmentVariable("UMX_BIN_DIR") + QStringLiteral("/umx-rigsim"), arguments,
                   environment(), false);
        static const QRegularExpression ready(
            QStringLiteral("^ready ws://127\\.0\\.0\\.1:(\\d+) udp-in (\\d+)$"));
        const int at = rig->waitFor(ready, kShortMs);
        if (at < 0)
            return false;
        rigPort = static_cast<quint16>(ready.match(rig->lines().at(at).text).captured(1).toUInt());
        return true;
    }

    void seed(const Seed& values) {
        QSettings store(dir.filePath(QStringLiteral("config/Hoska/uMX.conf")),
                        QSettings::IniFormat);
        store.setValue(QStringLiteral("listRigs"),
                       QStringList{QStringLiteral("127.0.0.1:%1").arg(rigPort)});
        store.setValue(QStringLiteral("selectedRig"), 0);
        store.setValue(QStringLiteral("outputDevice"), values.outputDevice);
        store.setValue(QStringLiteral("inputDevice"), values.inputDevice);
        store.setValue(QStringLiteral("audioDevice"), values.speakerDevice);
        store.setValue(QStringLiteral("settingsUsePredefinedDevice"), false);
        store.setValue(QStringLiteral("speakerOn"), values.speakerOn);
        store.setValue(QStringLiteral("audioOutMode"), values.audioOutMode);
        store.setValue(QStringLiteral("inUDPPort"), panelUdpPort);
        store.setValue(QStringLiteral("localIP"), QStringLiteral("127.0.0.1"));
    }

    // Starts the panel and waits until its window is on the screen.
    bool startPanel() {
        panel->start(qEnvironmentVariable("UMX_BIN_DIR") + QStringLiteral("/umx"),
                     {QStringLiteral("--log-level"), QStringLiteral("debug")}, environment(), true);
        windowId = findWindow(panel->pid(), kWindowTitle, {}, kStartMs);
        return !windowId.isEmpty();
    }

    // A visible window of process `pid` with the title, other than those in `besides`. The tray
    // icon is a small window with the same title and is passed over.
    static QString findWindow(qint64 pid, const QString& title, const QStringList& besides,
                              int timeoutMs) {
        static const QRegularExpression entry(
            QStringLiteral("Window (\\d+)\\n.*\\n\\s*Geometry: (\\d+)x(\\d+)"));
        QString found;
        (void)QTest::qWaitFor(
            [&] {
                const Run run = runTool(
                    QStringLiteral("xdotool"),
                    {QStringLiteral("search"), QStringLiteral("--all"),
                     QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid),
                     QStringLiteral("--name"),
                     QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$'),
                     QStringLiteral("getwindowgeometry"), QStringLiteral("%@")});
                if (run.exitCode != 0)
                    return false;
                QRegularExpressionMatchIterator it = entry.globalMatch(run.output);
                while (it.hasNext()) {
                    const QRegularExpressionMatch match = it.next();
                    if (match.captured(2).toInt() >= kMinWindowSide &&
                        match.captured(3).toInt() >= kMinWindowSide &&
                        !besides.contains(match.captured(1))) {
                        found = match.captured(1);
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return found;
    }

    // Types a key into a window, as the operator would after clicking into it.
    static bool pressKey(const QString& window, const QString& key) {
        return runTool(QStringLiteral("xdotool"),
                       {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window,
                        QStringLiteral("key"), key})
                   .exitCode == 0;
    }

    // The connect button has the focus from the start; the space bar toggles it. A key that
    // reaches the window before it has taken the focus is lost without effect, so the key is
    // typed again until the panel logs the action.
    bool pressConnect(bool connecting = true) {
        static const QRegularExpression connectAction(QStringLiteral("MainWindow: actionConnect$"));
        static const QRegularExpression disconnectAction(
            QStringLiteral("MainWindow: actionDisConnect$"));
        const QRegularExpression& logged = connecting ? connectAction : disconnectAction;
        const int from = panel->lines().size();
        for (int attempt = 0; attempt < kKeyAttempts; ++attempt) {
            // While connecting the window is disabled and the button loses the focus; the
            // operator then tabs back to it.
            if (attempt > 0 && !connecting && !pressKey(windowId, QStringLiteral("Tab")))
                return false;
            if (!pressKey(windowId, QStringLiteral("space")))
                return false;
            if (panel->waitFor(logged, kKeyEffectMs, from) >= 0)
                return true;
        }
        return false;
    }
    bool pressDisconnect() { return pressConnect(false); }

    // Answers the panel's modal box (titled like the window) with Return.
    bool answerBox(int timeoutMs) {
        const QString box = findWindow(panel->pid(), kWindowTitle, {windowId}, timeoutMs);
        return !box.isEmpty() && pressKey(box, QStringLiteral("Return"));
    }

    // Starts the panel, presses connect and waits until the simulator streams.
    bool connectPanel() {
        if (!startPanel() || !pressConnect())
            return false;
        return rig->waitFor(kAudioStarted, kConnectMs) >= 0 &&
               panel->waitFor(kHostReady, kShortMs) >= 0;
    }

    QImage screenshot() const {
        const QString file = dir.filePath(QStringLiteral("window-%1.png").arg(++shots));
        runTool(QStringLiteral("import"),
                {QStringLiteral("-window"), windowId, QStringLiteral("png:") + file});
        return QImage(file);
    }

    void stopAll() {
        panel->stop();
        rig->stop();
    }

    QString transcripts() const { return panel->transcript() + rig->transcript(); }
    qint64 now() const { return clockRef.elapsed(); }

    QString name;
    QTemporaryDir dir;
    E2eProcess* rig;
    E2eProcess* panel;
    const QElapsedTimer& clockRef;
    quint16 rigPort = 0;
    quint16 panelUdpPort = 0;
    QString windowId;
    mutable int shots = 0;
};

// The meters' pixels once two screenshots in a row agree: a screenshot can catch the GL
// widgets between two frames.
static MeterPixels settledMeterPixels(const Session& s, const QRect& bars) {
    MeterPixels last = meterPixels(s.screenshot(), bars);
    for (int attempt = 0; attempt < 5; ++attempt) {
        QTest::qWait(300);
        const MeterPixels next = meterPixels(s.screenshot(), bars);
        if (next == last)
            break;
        last = next;
    }
    return last;
}

class TestEndToEnd : public QObject {
    Q_OBJECT

public:
    TestEndToEnd() { clock.start(); }

private:
    QProcessEnvironment audioEnvironment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("UMX_JACK_SERVER"), kServerName);
        env.insert(QStringLiteral("JACK_DEFAULT_SERVER"), kServerName);
        env.insert(audioClientEnvironment());
        return env;
    }

    Run audioServer(const QString& command) {
        return runTool(qEnvironmentVariable("UMX_SOURCE_DIR") +
                           QStringLiteral("/scripts/audio-server"),
                       {command}, 30000, audioEnvironment());
    }

    // Records `ms` of a capture device as stereo at the cable rate.
    std::optional<WavAudio> record(const QString& device, int ms) {
        const QString file = scratch.filePath(QStringLiteral("rec-%1.wav").arg(++recordings));
        const Run run =
            runTool(QStringLiteral("arecord"),
                    {QStringLiteral("-q"), QStringLiteral("-D"), device, QStringLiteral("-f"),
                     QStringLiteral("S16_LE"), QStringLiteral("-c"), QStringLiteral("2"),
                     QStringLiteral("-r"), QString::number(kCableRate), QStringLiteral("-s"),
                     QString::number(kCableRate * ms / 1000), file},
                    ms + kShortMs, audioEnvironment());
        if (run.exitCode != 0) {
            qWarning("arecord failed: %s", qPrintable(run.output));
            return std::nullopt;
        }
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly))
            return std::nullopt;
        return parseWav(in.readAll(), nullptr);
    }

    // Checks that each channel of a recording carries its tone, and only that one.
    static bool hasTones(const WavAudio& audio, double leftHz, double rightHz, QString* why) {
        const double wanted[] = {leftHz, rightHz};
        for (int channel = 0; channel < 2; ++channel) {
            const QVector<double> samples = channelOf(audio.samples, 2, channel);
            const double here = toneAmplitude(samples, wanted[channel], audio.sampleRate);
            const double other = wanted[channel] == kLeftHz ? kRightHz : kLeftHz;
            const double there = toneAmplitude(samples, other, audio.sampleRate);
            *why += QStringLiteral("channel %1: %2 Hz at %3, %4 Hz at %5; ")
                        .arg(channel)
                        .arg(wanted[channel])
                        .arg(here, 0, 'f', 4)
                        .arg(other)
                        .arg(there, 0, 'f', 4);
            if (here < kMinToneAmplitude || here > kToneAmplitude * 1.2 ||
                there > here * kCrosstalkRatio)
                return false;
        }
        return true;
    }

    QElapsedTimer clock;
    QTemporaryDir scratch;
    int recordings = 0;
    bool audioServerStarted = false;
    // The hung-host check runs beside the others: its pong watchdog needs 35 s of waiting.
    std::unique_ptr<Session> hung;
    qint64 hungConnectedAt = -1;
    qint64 hungPongTimeoutAt = -1;
    QString hungTranscript;

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP(
                "no X server (DISPLAY is not set): run the end-to-end suite through scripts/test");
        for (const char* tool : {"xdotool", "import", "arecord", "aplay", "jackd"}) {
            QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(),
                     qPrintable(QStringLiteral("%1 is missing: run scripts/install-deps")
                                    .arg(QLatin1String(tool))));
        }
        const Run started = audioServer(QStringLiteral("start"));
        QVERIFY2(started.exitCode == 0, qPrintable(started.output));
        audioServerStarted = true;
        // UMX_AUDIO_SERVER (jack or pipewire) chose the server; its clients' variables follow.
        const Run variables = audioServer(QStringLiteral("env"));
        static const QRegularExpression assignment(QStringLiteral("^export (\\w+)=(\\S+)$"));
        for (const QString& line : variables.output.split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch match = assignment.match(line);
            if (match.hasMatch())
                audioClientEnvironment().insert(match.captured(1), match.captured(2));
        }
        QVERIFY2(variables.exitCode == 0 && !audioClientEnvironment().isEmpty(),
                 qPrintable(variables.output));

        hung = std::make_unique<Session>(QStringLiteral("hung"), clock);
        QVERIFY(hung->startRig({QStringLiteral("--hang-after"), QStringLiteral("1"),
                                QStringLiteral("--hang-for"), QStringLiteral("40"),
                                QStringLiteral("--hang-keeps-audio")}));
        // No sound devices for this one, so it leaves the cables to the other checks: the panel
        // then connects and counts the audio it receives without playing it.
        Seed noDevices;
        noDevices.outputDevice = QStringLiteral("e2e: no such playback device");
        noDevices.inputDevice = QStringLiteral("e2e: no such capture device");
        noDevices.speakerDevice = QStringLiteral("e2e: no such speaker");
        hung->seed(noDevices);
        connect(hung->panel, &E2eProcess::lineRead, this, [this](const QString& line) {
            if (line.contains(QStringLiteral("RemoteCtrl: ws connected")) && hungConnectedAt < 0)
                hungConnectedAt = clock.elapsed();
            if (line.endsWith(
                    QStringLiteral("Warning: RemoteCtrl: Pong timeout — forcing disconnect")) &&
                hungPongTimeoutAt < 0) {
                hungPongTimeoutAt = clock.elapsed();
                // Done with it: stopped before its link watchdog puts a box on the screen.
                QTimer::singleShot(0, this, [this] {
                    hungTranscript = hung->transcripts();
                    hung->stopAll();
                });
            }
        });
        QVERIFY(hung->connectPanel());
    }

    void cleanupTestCase() {
        if (hung)
            hung->stopAll();
        hung.reset();
        if (audioServerStarted)
            audioServer(QStringLiteral("stop"));
    }

    void controlChannel() {
        Session s(QStringLiteral("control"), clock);
        QVERIFY(s.startRig({}));
        s.seed({});
        QVERIFY(s.connectPanel());

        // localInfo carries the configured address and UDP port.
        const int local = s.rig->indexOf(QRegularExpression(QStringLiteral("^<- .*\"localInfo\"")));
        QVERIFY(local >= 0);
        const QJsonObject info =
            QJsonDocument::fromJson(s.rig->lines().at(local).text.mid(3).toUtf8()).object();
        QCOMPARE(info.value(QStringLiteral("localAddress")).toString(),
                 QStringLiteral("127.0.0.1"));
        QCOMPARE(info.value(QStringLiteral("localPort")).toInt(), int(s.panelUdpPort));

        // hostInfo, then startOutput, then the audio.
        const int hostInfo = s.rig->indexOf(kHostInfoSent, local);
        const int start = s.rig->indexOf(kStartOutput);
        QVERIFY(hostInfo > local && start > hostInfo);
        QVERIFY(s.rig->indexOf(kAudioStarted) > start);
        QVERIFY2(s.rig->lines()
                     .at(s.rig->indexOf(kAudioStarted))
                     .text.startsWith(
                         QStringLiteral("audio started to 127.0.0.1:%1,").arg(s.panelUdpPort)),
                 qPrintable(s.transcripts()));

        // The operator's disconnect: stopOutput, then a normal close.
        const int before = s.rig->lines().size();
        QVERIFY(s.pressDisconnect());
        const int stop = s.rig->waitFor(kStopOutput, kShortMs, before);
        QVERIFY(stop >= 0);
        const int closed = s.rig->waitFor(kClosedNormally, kShortMs, before);
        QVERIFY(closed > stop);
        QVERIFY(
            s.panel->waitFor(QRegularExpression(QStringLiteral("MainWindow: actionDisConnect$")),
                             kShortMs) >= 0);
        // Nothing reconnects after the operator's own disconnect.
        QTest::qWait(1500);
        QCOMPARE(s.rig->count(kClientConnected), 1);
        QCOMPARE(s.panel->count(kReconnectScheduled), 0);
        // The sound system's own complaints while devices are probed go to the log, not the
        // terminal.
        QCOMPARE(s.panel->count(QRegularExpression(QStringLiteral("^ALSA lib "))), 0);
    }

    void receiveAudio_data() {
        QTest::addColumn<int>("audioOutMode");
        QTest::addColumn<double>("speakerLeftHz");
        QTest::addColumn<double>("speakerRightHz");
        QTest::newRow("RX1+RX2: both receivers as sent") << 0 << kLeftHz << kRightHz;
        QTest::newRow("RX1: the second sample on both sides") << 1 << kRightHz << kRightHz;
        QTest::newRow("RX2: the first sample on both sides") << 2 << kLeftHz << kLeftHz;
    }
    void receiveAudio() {
        QFETCH(int, audioOutMode);
        QFETCH(double, speakerLeftHz);
        QFETCH(double, speakerRightHz);
        Session s(QStringLiteral("receive"), clock);
        QVERIFY(s.startRig({}));
        Seed seed;
        seed.audioOutMode = audioOutMode;
        s.seed(seed);
        QVERIFY(s.connectPanel());
        QTest::qWait(300);

        // The virtual cable carries what the rig sent, whatever the speaker is given.
        const std::optional<WavAudio> cable = record(kRxFarEnd, 800);
        QVERIFY(cable);
        QString why;
        QVERIFY2(hasTones(*cable, kLeftHz, kRightHz, &why), qPrintable(why));

        const std::optional<WavAudio> speaker = record(kSpeakerFarEnd, 800);
        QVERIFY(speaker);
        why.clear();
        QVERIFY2(hasTones(*speaker, speakerLeftHz, speakerRightHz, &why), qPrintable(why));
    }

    void transmitAudio() {
        Session s(QStringLiteral("transmit"), clock);
        const QString recording = s.dir.filePath(QStringLiteral("at-the-rig.wav"));
        QVERIFY(s.startRig({QStringLiteral("--record"), recording}));
        s.seed({});
        QVERIFY(s.connectPanel());

        // 1.5 s of 700 Hz from other software into the cable the panel captures.
        const QString tone = s.dir.filePath(QStringLiteral("tone.wav"));
        {
            ToneGenerator generator(kTransmitHz, kTransmitHz, kHostRate);
            const QByteArray stereo = generator.nextFrames(kHostRate * 3 / 2);
            QByteArray mono;
            for (int i = 0; i < stereo.size(); i += 4)
                mono.append(stereo.constData() + i, 2);
            QFile out(tone);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(wavHeader(kHostRate, 1, static_cast<quint32>(mono.size())));
            out.write(mono);
        }
        const Run played = runTool(QStringLiteral("aplay"),
                                   {QStringLiteral("-q"), QStringLiteral("-D"), kTxFarEnd, tone},
                                   kShortMs, s.environment());
        QCOMPARE(played.exitCode, 0);
        QTest::qWait(1200);
        s.panel->stop();
        s.rig->stop();

        // The simulator's once-a-second report: the host's rate, datagrams within the limit.
        static const QRegularExpression report(
            QStringLiteral("^rx (\\d+) samples/s, [0-9.]+ datagrams/s, largest (\\d+) bytes"));
        QList<int> rates;
        for (const E2eProcess::Line& line : s.rig->lines()) {
            const QRegularExpressionMatch match = report.match(line.text);
            if (!match.hasMatch())
                continue;
            rates << match.captured(1).toInt();
            QVERIFY2(match.captured(2).toInt() <= kMaxDatagramBytes, qPrintable(line.text));
            QVERIFY2(match.captured(2).toInt() > 0, qPrintable(line.text));
        }
        // The first and the last report cover part of a second only.
        QVERIFY(rates.size() >= 3);
        for (int i = 1; i + 1 < rates.size(); ++i)
            QVERIFY(qAbs(rates.at(i) - kHostRate) < kHostRate / 20);

        // The tone arrived at its own pitch: the panel sent host-rate samples.
        QFile in(recording);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const std::optional<WavAudio> atRig = parseWav(in.readAll(), nullptr);
        QVERIFY(atRig);
        QCOMPARE(atRig->channels, 1);
        const QVector<double> loudest =
            loudestStretch(channelOf(atRig->samples, 1, 0), kHostRate / 2);
        QVERIFY2(rms(loudest) > 0.25, qPrintable(QString::number(rms(loudest))));
        const double pitch = dominantHz(loudest, kHostRate, 100.0, 5000.0, 5.0);
        QVERIFY2(qAbs(pitch - kTransmitHz) <= 5.0, qPrintable(QString::number(pitch)));
    }

    void meters() {
        Session s(QStringLiteral("meters"), clock);
        QVERIFY(s.startRig({}));
        s.seed({});
        QVERIFY(s.startPanel());
        QTest::qWait(500);
        const QImage idlePicture = s.screenshot();
        const QRect bars = barArea(idlePicture);
        QVERIFY(bars.height() > 10 && bars.width() > 100);
        const MeterPixels idle = settledMeterPixels(s, bars);
        QVERIFY2(idle.dark > 1000,
                 qPrintable(QStringLiteral("idle: %1 dark, %2 lit").arg(idle.dark).arg(idle.lit)));

        QVERIFY(s.pressConnect());
        QVERIFY(s.rig->waitFor(kAudioStarted, kConnectMs) >= 0);
        QTest::qWait(1000);
        const MeterPixels flowing = meterPixels(s.screenshot(), bars);
        // Two of the three meters (left and right received) light up to about -6 dB.
        QVERIFY2(
            flowing.lit > idle.dark / 4,
            qPrintable(
                QStringLiteral("flowing: %1 dark, %2 lit").arg(flowing.dark).arg(flowing.lit)));

        QVERIFY(s.pressDisconnect());
        QVERIFY(s.rig->waitFor(kClosedNormally, kShortMs) >= 0);
        QTest::qWait(2000);
        const MeterPixels after = settledMeterPixels(s, bars);
        QVERIFY2(
            after == idle,
            qPrintable(QStringLiteral("after: %1 dark, %2 lit").arg(after.dark).arg(after.lit)));
    }

    void reconnectsToARestartedRig() {
        Session s(QStringLiteral("reconnect"), clock);
        QVERIFY(s.startRig({}));
        s.seed({});
        QVERIFY(s.connectPanel());

        // The rig process dies and is back on the same port at once.
        const quint16 port = s.rigPort;
        s.rig->kill();
        const int panelBefore = s.panel->lines().size();
        const int rigBefore = s.rig->lines().size();
        QVERIFY(s.startRig({}, port));
        const int notice = s.panel->waitFor(
            QRegularExpression(QStringLiteral("MainWindow: Reconnecting in 1000ms$")), kShortMs,
            panelBefore);
        QVERIFY(notice >= 0);
        QVERIFY(s.panel->indexOf(QRegularExpression(QStringLiteral(
                                     "RemoteCtrl: scheduleReconnect — delay=1000ms")),
                                 panelBefore) >= 0);
        const qint64 noticeAt = s.panel->lines().at(notice).atMs;

        // The announced second passes, then the same road again: hostInfo, startOutput, audio.
        const int connected = s.rig->waitFor(kClientConnected, kShortMs, rigBefore);
        QVERIFY(connected >= 0);
        const qint64 waited = s.rig->lines().at(connected).atMs - noticeAt;
        QVERIFY2(waited >= 900 && waited < 2000, qPrintable(QString::number(waited)));
        QVERIFY(s.rig->waitFor(kAudioStarted, kShortMs, rigBefore) >
                s.rig->indexOf(kStartOutput, rigBefore));
        QVERIFY(s.panel->waitFor(kHostReady, kShortMs, notice) > notice);
        QTest::qWait(800);
        const std::optional<WavAudio> cable = record(kRxFarEnd, 600);
        QVERIFY(cable);
        QString why;
        QVERIFY2(hasTones(*cable, kLeftHz, kRightHz, &why), qPrintable(why));
    }

    void silentRigIsGivenUp() {
        Session s(QStringLiteral("silent"), clock);
        QVERIFY(s.startRig({QStringLiteral("--silent-after"), QStringLiteral("2")}));
        s.seed({});
        QVERIFY(s.connectPanel());
        const qint64 streamingAt = s.rig->lines().at(s.rig->indexOf(kAudioStarted)).atMs;

        // The fifth low tick of the 2 s watchdog gives the link up and tells the operator.
        const int lost = s.panel->waitFor(kHostDisconnected, kLostLinkMs);
        QVERIFY(lost >= 0);
        const qint64 after = s.panel->lines().at(lost).atMs - streamingAt;
        QVERIFY2(after >= 9000 && after <= 14000, qPrintable(QString::number(after)));
        QVERIFY(s.answerBox(kShortMs));
        const int stop = s.rig->waitFor(kStopOutput, kShortMs);
        QVERIFY(stop >= 0);
        QVERIFY(s.rig->waitFor(kClosedNormally, kShortMs, stop) > stop);
        // Given up means idle: no reconnection.
        QCOMPARE(s.panel->count(kReconnectScheduled), 0);
        QCOMPARE(s.rig->count(kClientConnected), 1);
    }

    void refusingRigIsReportedOnce() {
        Session s(QStringLiteral("refuse"), clock);
        QVERIFY(s.startRig({QStringLiteral("--refuse")}));
        s.seed({});
        QVERIFY(s.startPanel());
        QVERIFY(s.pressConnect());
        const int error = s.panel->waitFor(
            QRegularExpression(QStringLiteral("RemoteCtrl: ws error — .*hasConnectedOnce=0$")),
            kConnectMs);
        QVERIFY(error >= 0);
        QVERIFY(s.answerBox(kShortMs));
        // Longer than the first reconnection delay: nothing is tried again.
        QTest::qWait(1500);
        QCOMPARE(s.rig->count(exactly(QStringLiteral("fault: refusing a connection"))), 1);
        QCOMPARE(s.panel->count(kReconnectScheduled), 0);
        QVERIFY(s.panel->running());
    }

    void secondPanelIsRefused() {
        Session s(QStringLiteral("lock"), clock);
        QVERIFY(s.startRig({}));
        s.seed({});
        QVERIFY(s.startPanel());

        E2eProcess second(QStringLiteral("second umx"), clock);
        second.start(qEnvironmentVariable("UMX_BIN_DIR") + QStringLiteral("/umx"),
                     {QStringLiteral("--log-level"), QStringLiteral("debug")}, s.environment(),
                     true);
        const QString box = Session::findWindow(second.pid(), kLockBoxTitle, {}, kStartMs);
        QVERIFY2(!box.isEmpty(), qPrintable(second.transcript()));
        QVERIFY(Session::pressKey(box, QStringLiteral("Return")));
        QCOMPARE(second.waitExit(kShortMs), 1);
        // The first one is untouched and still connects.
        QVERIFY(s.panel->running());
        QVERIFY(s.pressConnect());
        QVERIFY(s.rig->waitFor(kAudioStarted, kConnectMs) >= 0);
    }

    void hungRigTripsThePongWatchdog() {
        QVERIFY(hung);
        QVERIFY2(
            QTest::qWaitFor([this] { return hungPongTimeoutAt >= 0; }, kPongTimeoutMs + kConnectMs),
            "no pong timeout");
        QVERIFY(hungConnectedAt >= 0);
        QTRY_VERIFY(!hungTranscript.isEmpty());
        // A ping 30 s after the connection, its pong overdue 5 s later.
        const qint64 after = hungPongTimeoutAt - hungConnectedAt;
        QVERIFY2(after >= 34500 && after <= 37000, qPrintable(QString::number(after)));
        // The audio kept flowing, so the link watchdog had no part in it.
        QVERIFY2(!hungTranscript.contains(QStringLiteral("host disconnected main")) ||
                     hungTranscript.indexOf(QStringLiteral("host disconnected main")) >
                         hungTranscript.indexOf(QStringLiteral("Pong timeout")),
                 qPrintable(hungTranscript));
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
