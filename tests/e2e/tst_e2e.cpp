// The real executables as their operator runs them, for what only real processes and devices
// show: umx under the X server with its connect button pressed through the keyboard, umx-rigsim at
// the far end of the control channel, and the cables of the suite's own audio server at the far
// ends of the sound devices.

#include "rigprocess.h"
#include "toneanalysis.h"
#include "wavfile.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

constexpr int kCableRate = 96000;
constexpr int kHostRate = 48000;
constexpr double kLeftHz = 1000.0;
constexpr double kRightHz = 1500.0;
constexpr double kTransmitHz = 700.0;
// Tones are sent at -6 dBFS (amplitude 0.5); the other tone of a pair, where it does not belong,
// reads at least 40 dB lower.
constexpr double kMinTone = 0.35;
constexpr double kMaxTone = 0.6;
constexpr double kCrosstalk = 0.01;
constexpr int kWaitMs = 30000;
// A key that arrives before the window has taken the focus is lost: it is sent again when it took
// no effect within this time.
constexpr int kKeyEffectMs = 3000;
constexpr int kAttempts = 5;
// A second of a far end, judged by its best quarter: a loaded machine leaves a gap in the
// playback now and then.
constexpr int kListenMs = 1000;

const QRegularExpression kClientConnected("^client \\S+ connected$");
const QRegularExpression kAudioStarted("^audio started to ");
const QRegularExpression kReceived("^rx (\\d+) samples/s");

// What is wrong with a stereo recording that should carry one tone per channel at about -6 dBFS
// and not the other tone of the pair; empty when nothing is.
QString wrongTones(const QByteArray& stereo, double leftHz, double rightHz) {
    QString wrong;
    for (const auto& [channel, hz] : {std::pair{0, leftHz}, std::pair{1, rightHz}}) {
        const QVector<double> samples =
            loudestStretch(channelOf(stereo, 2, channel), kCableRate / 4, hz, kCableRate);
        const double level = toneAmplitude(samples, hz, kCableRate);
        const double leak = toneAmplitude(samples, kLeftHz + kRightHz - hz, kCableRate);
        if (level < kMinTone || level > kMaxTone || leak > kCrosstalk * level)
            wrong += QString::asprintf("channel %d: %g Hz at %.3f, the other tone at %.3f; ",
                                       channel, hz, level, leak);
    }
    return wrong;
}

// What the audio server's clients need in their environment, as `audio-server env` prints it:
// the JACK server's name, or for PipeWire the ALSA configuration that leads to its cables.
QProcessEnvironment& audioClients() {
    static QProcessEnvironment variables;
    return variables;
}

} // namespace

// A folder for settings, temporary files (the single-instance lock) and runtime files, and the
// suite's own audio server: what every program started from here sees, and the tools that drive
// them. The server is named after the suite's process, with no "_": the audio server script clears
// what a server X left behind by the pattern X_*, which would take in a running "umx_e2e_PID".
class Sandbox {
public:
    QProcessEnvironment env() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString server = QString("umx-e2e-%1").arg(QCoreApplication::applicationPid());
        env.insert("UMX_JACK_SERVER", server);
        env.insert("JACK_DEFAULT_SERVER", server);
        env.insert("JACK_NO_START_SERVER", "1");
        env.insert("UMX_AUDIO_RUN_DIR", dir.filePath("audio-server"));
        for (const char* folder : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "TMPDIR"})
            env.insert(folder, dir.path());
        env.insert(audioClients());
        return env;
    }

    // What a helper program prints, run to its end. Events go on meanwhile: the rig's lines keep
    // coming in.
    QByteArray run(const QString& program, const QStringList& arguments,
                   const QByteArray& input = {}) {
        QProcess process;
        process.setProcessEnvironment(env());
        process.start(program, arguments);
        process.write(input);
        process.closeWriteChannel();
        (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, kWaitMs);
        return process.readAllStandardOutput();
    }

    // A visible window of process `pid` with a title that matches, once there is one; the tray
    // icon, a small window of the same title, is passed over by its width.
    QString findWindow(qint64 pid, const QString& title, int timeoutMs = kWaitMs) {
        static const QRegularExpression big("Window (\\d+)\\n.*\\n\\s*Geometry: \\d{3,}x");
        const QStringList search =
            QString("search --all --onlyvisible --pid %1 --name").arg(pid).split(' ')
            << title << "getwindowgeometry"
            << "%@";
        QString found;
        (void)QTest::qWaitFor(
            [&] { return !(found = big.match(run("xdotool", search)).captured(1)).isEmpty(); },
            timeoutMs);
        return found;
    }

    // Types a key into a window until `done`.
    bool press(const QString& window, const QString& key, const std::function<bool()>& done) {
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            run("xdotool", {"windowfocus", "--sync", window, "key", key});
            if (done())
                return true;
        }
        return false;
    }

    // What a far end of the audio server's cables carries once sound has reached it (the panel
    // opens its streams a moment after the rig starts sending), stereo at the cables' rate.
    QByteArray listen(const QString& device) {
        const QStringList format =
            QString("-q -t raw -f S16_LE -c 2 -r %1 -D").arg(kCableRate).split(' ')
            << device << "-s";
        const auto record = [&](int ms) {
            return run("arecord", format + QStringList{QString::number(kCableRate * ms / 1000)});
        };
        (void)QTest::qWaitFor(
            [&] {
                const QVector<double> heard = channelOf(record(kListenMs / 4), 2, 0);
                return std::any_of(heard.begin(), heard.end(), [](double s) { return s > 0.1; });
            },
            kWaitMs);
        return record(kListenMs);
    }

    QTemporaryDir dir;
};

// One panel and the rig it connects to.
class Session : public Sandbox {
public:
    ~Session() {
        close();
        QFile log(dir.filePath("panel.log"));
        if (QTest::currentTestFailed() && log.open(QIODevice::ReadOnly))
            qWarning("panel, the end of its log:\n%s", log.readAll().right(20000).constData());
    }

    // A rig started later replaces the one before, on the port given.
    bool startRig(const QStringList& arguments = {}, int port = 0) {
        rig.reset();
        rig = std::make_unique<RigProcess>(arguments, static_cast<quint16>(port));
        return rig->waitReady();
    }

    // The settings the panel finds: the rig, the audio server's devices, the receivers for the
    // speaker, a free local UDP port.
    void seed(int audioOutMode) {
        QSettings store(dir.filePath("Hoska/uMX.conf"), QSettings::IniFormat);
        store.setValue("listRigs", QStringList{QString("127.0.0.1:%1").arg(rig->url.port())});
        store.setValue("selectedRig", 0);
        store.setValue("outputDevice", "Line Volume (2- UMX VAC)");
        store.setValue("inputDevice", "Line In (UMX VAC)");
        store.setValue("audioDevice", "UMX Speaker");
        store.setValue("speakerOn", true);
        store.setValue("audioOutMode", audioOutMode);
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        store.setValue("inUDPPort", probe.localPort());
        store.setValue("localIP", "127.0.0.1");
    }

    // Whether its window shows within `timeoutMs`.
    bool startPanel(const QStringList& arguments = {}, int timeoutMs = kWaitMs) {
        panel.setProcessEnvironment(env());
        panel.setStandardErrorFile(dir.filePath("panel.log"));
        panel.start(qEnvironmentVariable("UMX_BIN_DIR") + "/umx",
                    QStringList{"--log-level", "debug"} + arguments);
        window = findWindow(panel.processId(), "^UMX control panel", timeoutMs);
        return !window.isEmpty();
    }

    // The connect button has the keyboard focus; the space bar presses it.
    bool pressConnect(const QRegularExpression& effect) {
        const int from = rig->lines.size();
        return press(window, "space", [&] { return rig->waitFor(effect, from, kKeyEffectMs); });
    }

    // A rig, settings that lead to it, and a panel connected to it, the rig sending.
    bool connectToRig(int audioOutMode = 0, const QStringList& rigArguments = {}) {
        if (!startRig(rigArguments))
            return false;
        seed(audioOutMode);
        return startPanel() && pressConnect(kClientConnected) && rig->waitFor(kAudioStarted);
    }

    // A logout's SIGTERM: the panel ends as Quit ends it, the link and the streams closed, so the
    // audio server keeps no clients of it.
    void close() {
        panel.terminate();
        panel.waitForFinished(kWaitMs);
    }

    std::unique_ptr<RigProcess> rig;
    QProcess panel;
    QString window;
};

class TestEndToEnd : public QObject {
    Q_OBJECT

    Sandbox audio;

    QByteArray audioServer(const QString& command) {
        return audio.run(qEnvironmentVariable("UMX_SOURCE_DIR") + "/scripts/audio-server",
                         {command});
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no X server (DISPLAY is not set): run it through scripts/test");
        const QByteArray started = audioServer("start");
        QVERIFY2(started.startsWith("audio-server: running"), started.constData());
        // UMX_AUDIO_SERVER (jack or pipewire) chose the server; its clients' variables follow.
        static const QRegularExpression assignment("^export (\\w+)=(\\S+)$");
        const QString variables = audioServer("env");
        for (const QString& line : variables.split('\n'))
            if (const QRegularExpressionMatch match = assignment.match(line); match.hasMatch())
                audioClients().insert(match.captured(1), match.captured(2));
        QVERIFY2(!audioClients().isEmpty(), qPrintable(variables));
    }
    void cleanupTestCase() { audioServer("stop"); }

    void receivedTonesAtTheFarEnds_data() {
        QTest::addColumn<int>("audioOutMode");
        QTest::addColumn<double>("speakerLeftHz");
        QTest::addColumn<double>("speakerRightHz");
        QTest::newRow("RX1+RX2: both receivers as sent") << 0 << kLeftHz << kRightHz;
        QTest::newRow("RX1: the right channel on both sides") << 1 << kRightHz << kRightHz;
        QTest::newRow("RX2: the left channel on both sides") << 2 << kLeftHz << kLeftHz;
    }
    void receivedTonesAtTheFarEnds() {
        QFETCH(int, audioOutMode);
        QFETCH(double, speakerLeftHz);
        QFETCH(double, speakerRightHz);
        Session s;
        QVERIFY(s.connectToRig(audioOutMode));
        // The virtual cable carries what the rig sent, whatever the speaker is given.
        QString wrong = wrongTones(s.listen("UMX VAC RX Out"), kLeftHz, kRightHz);
        QVERIFY2(wrong.isEmpty(), qPrintable("virtual cable: " + wrong));
        wrong = wrongTones(s.listen("UMX Speaker Monitor"), speakerLeftHz, speakerRightHz);
        QVERIFY2(wrong.isEmpty(), qPrintable("speaker: " + wrong));
    }

    void transmittedToneReachesTheRigAtItsPitchAndRate() {
        Session s;
        const QString recording = s.dir.filePath("at-the-rig.wav");
        QVERIFY(s.connectToRig(0, {"--record", recording}));

        // 1.5 s of a tone at the host's rate from other software into the cable the panel
        // captures at twice that rate: a wrong reduction shows as a wrong pitch at the rig.
        QByteArray mono(kHostRate * 3, Qt::Uninitialized);
        for (int i = 0; i < kHostRate * 3 / 2; ++i)
            qToLittleEndian(qint16(16384 * std::sin(2 * M_PI * kTransmitHz * i / kHostRate)),
                            mono.data() + 2 * i);
        s.run("aplay",
              QString("-q -t raw -f S16_LE -c 1 -r %1 -D").arg(kHostRate).split(' ')
                  << "UMX VAC TX In",
              mono);
        // Three more reports: the tail of the tone has arrived, and whole seconds after it.
        // Five at least, so that whole seconds remain without the first and the last.
        const int awaited = qMax(s.rig->lines.filter(kReceived).size() + 3, 5);
        QTRY_VERIFY_WITH_TIMEOUT(s.rig->lines.filter(kReceived).size() >= awaited, kWaitMs);
        s.close();
        s.rig->terminate();

        // The reports of whole seconds (all but the first and the last) say the host's rate on
        // average: a second counts whole capture blocks (43 ms), so it reads a block more or less.
        const QStringList reports = s.rig->lines.filter(kReceived);
        QVERIFY(reports.size() >= 5);
        double sum = 0.0;
        for (int i = 1; i + 1 < reports.size(); ++i)
            sum += kReceived.match(reports.at(i)).captured(1).toDouble();
        const double rate = sum / (reports.size() - 2);
        QVERIFY2(qAbs(rate - kHostRate) < kHostRate * 0.04, qPrintable(reports.join('\n')));
        QFile file(recording);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const std::optional<WavAudio> heard = parseWav(file.readAll(), nullptr);
        QVERIFY(heard && heard->channels == 1);
        const QVector<double> samples = channelOf(heard->samples, 1, 0);
        const double loudest = toneAmplitude(
            loudestStretch(samples, kHostRate / 2, kTransmitHz, kHostRate), kTransmitHz, kHostRate);
        QVERIFY2(loudest > kMinTone && loudest < kMaxTone, qPrintable(QString::number(loudest)));
    }

    // The host stops and is back on the same port; nobody touches the panel. Then a logout or a
    // `kill` ends the panel the way Quit does.
    void restartedRigIsRejoinedAndTerminationEndsLikeQuit() {
        Session s;
        const QByteArray serverPorts = s.run("jack_lsp", {});
        QVERIFY(s.connectToRig());
        QVERIFY(s.startRig({}, s.rig->url.port()));
        QVERIFY(s.rig->waitFor(kAudioStarted, 0, kWaitMs));
        const QString wrong = wrongTones(s.listen("UMX VAC RX Out"), kLeftHz, kRightHz);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

        s.panel.terminate();
        QVERIFY(s.panel.waitForFinished(3000));
        QVERIFY(s.panel.exitStatus() == QProcess::NormalExit && s.panel.exitCode() == 0);
        QVERIFY(s.rig->waitFor(QRegularExpression("^<- .*\"stopOutput\"")));
        QVERIFY(s.rig->waitFor(QRegularExpression("disconnected \\(close code 1000\\)$")));
        QVERIFY(
            QSettings(s.dir.filePath("Hoska/uMX.conf"), QSettings::IniFormat).contains("geometry"));
        // A JACK server waits out every client that dies without closing; PipeWire does not.
        if (audioClients().contains("JACK_DEFAULT_SERVER"))
            QCOMPARE(s.run("jack_lsp", {}), serverPorts);
    }

    // With a tray, --hidden starts the panel there, with no window. A second panel is refused
    // before it touches the running one's log file.
    void hiddenInTheTrayAndTheSecondPanelIsRefused() {
        Session s;
        const QString log = s.dir.filePath("shared.log");
        QVERIFY(!s.startPanel({"--hidden", "--log-file", log}, 3000));
        QCOMPARE(s.panel.state(), QProcess::Running);
        const qint64 logged = QFileInfo(log).size();
        QProcess second;
        second.setProcessEnvironment(s.env());
        second.start(qEnvironmentVariable("UMX_BIN_DIR") + "/umx", {"--log-file", log});
        // Its only window is the box that says the panel is already running.
        const QString box = s.findWindow(second.processId(), "^UMX Control Panel$");
        QVERIFY(!box.isEmpty());
        QVERIFY(s.press(box, "Return", [&] {
            return QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; },
                                   kKeyEffectMs);
        }));
        QCOMPARE(second.exitCode(), 1);
        QCOMPARE(s.panel.state(), QProcess::Running);
        QVERIFY(logged > 0 && QFileInfo(log).size() >= logged);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
