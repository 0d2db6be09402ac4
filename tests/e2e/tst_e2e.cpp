// SPDX-License-Identifier: GPL-3.0-or-later
// The real executables as their operator runs them, for what only real processes and devices
// show: umx under the X server with its connect button pressed through the keyboard, umx-rigsim at
// the far end of the control channel, and the cables of the suite's own audio server at the far
// ends of the sound devices. With UMX_SOAK_MINUTES set, faultsAreRiddenOut is the fault soak.

#include "panelsettings.h"
#include "rigprocess.h"
#include "toneanalysis.h"
#include "wavfile.h"

#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>
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
// Sound first reaches a far end while the playout still primes and grows its target.
constexpr int kSettleMs = 2000;

// The host away in an outage: long enough for the third reconnection attempt and beyond.
constexpr int kOutageMs = 20000;
// A silence or a flood of the host, as long as its hang: long enough for low status ticks,
// short of a give-up.
constexpr int kFaultMs = 4000;
// The soak reads the panel's figures this long after audio flows again, in its steady state.
constexpr int kSteadyMs = 2000;
// Audio flows again this soon after the host is back: the next attempt after the host returns
// comes at most 30 s later, and connecting takes a moment.
constexpr int kRecoveryMs = 35000;

const QRegularExpression kClientConnected("^client \\S+ connected$");
const QRegularExpression kAudioStarted("^audio started to ");
const QRegularExpression kReceived("^rx (\\d+) samples/s");

// A tone's amplitude anywhere within the drift controller's reach: while it steers the playout's
// fill (at the start, after a fault) the received audio plays up to 0.5 % fast or slow.
double steeredToneAmplitude(const QVector<double>& samples, double hz) {
    double amplitude = 0.0;
    for (int step = -4; step <= 4; ++step)
        amplitude = qMax(amplitude, toneAmplitude(samples, hz * (1 + step * 0.00125), kCableRate));
    return amplitude;
}

// What is wrong with a stereo recording that should carry one tone per channel at about -6 dBFS
// and not the other tone of the pair; empty when nothing is.
QString wrongTones(const QByteArray& stereo, double leftHz, double rightHz) {
    QString wrong;
    for (const auto& [channel, hz] : {std::pair{0, leftHz}, std::pair{1, rightHz}}) {
        const QVector<double> samples =
            loudestStretch(channelOf(stereo, 2, channel), kCableRate / 4, hz, kCableRate);
        const double level = steeredToneAmplitude(samples, hz);
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

    // A visible window of process `pid` with a title that matches, once there is one: a window
    // at least 100 pixels wide, or a smaller one (the tray icon, a menu) when `small`.
    QString findWindow(qint64 pid, const QString& title, int timeoutMs = kWaitMs,
                       bool small = false) {
        const QRegularExpression size(
            QString("Window (\\d+)\\n.*\\n\\s*Geometry: \\d{%1}x").arg(small ? "1,2" : "3,"));
        const QStringList search =
            QString("search --all --onlyvisible --pid %1 --name").arg(pid).split(' ')
            << title << "getwindowgeometry"
            << "%@";
        QString found;
        (void)QTest::qWaitFor(
            [&] { return !(found = size.match(run("xdotool", search)).captured(1)).isEmpty(); },
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
        // The playout's fill is steered to its target in the first seconds of a stream.
        QTest::qWait(kSettleMs);
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
            qWarning("panel, the end of its log:\n%s\nrig, its last lines:\n%s",
                     log.readAll().right(20000).constData(),
                     rig ? qPrintable(rig->lines.mid(rig->lines.size() - 30).join('\n')) : "");
    }

    // A rig started later replaces the one before, on the port given.
    bool startRig(const QStringList& arguments = {}, int port = 0) {
        rig.reset();
        rig = std::make_unique<RigProcess>(arguments, static_cast<quint16>(port));
        return rig->waitReady();
    }

    // The settings the panel finds: the rig, the audio server's devices, the receivers for the
    // speaker, a free local UDP port, a theme.
    void seed(int audioOutMode) {
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        seeded = {{"listRigs", QStringList{QString("127.0.0.1:%1").arg(rig->url.port())}},
                  {"selectedRig", 0},
                  {"outputDevice", "Line Volume (2- UMX VAC)"},
                  {"inputDevice", "Line In (UMX VAC)"},
                  {"audioDevice", "UMX Speaker"},
                  {"speakerOn", true},
                  {"audioOutMode", audioOutMode},
                  {"inUDPPort", probe.localPort()},
                  {"localIP", "127.0.0.1"},
                  {"theme", "dark_amber"}};
        QSettings store(dir.filePath("Hoska/uMX.conf"), QSettings::IniFormat);
        for (auto key = seeded.cbegin(); key != seeded.cend(); ++key)
            store.setValue(key.key(), key.value());
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

    // What ends a session (a logout's SIGTERM, SIGINT, SIGHUP): whether the panel ended as Quit
    // ends it, with status 0, the link and the streams closed, so the audio server keeps no
    // clients of it.
    bool close(int signal = SIGTERM) {
        if (panel.state() == QProcess::NotRunning)
            return false;
        ::kill(static_cast<pid_t>(panel.processId()), signal);
        return panel.waitForFinished(kWaitMs) && panel.exitStatus() == QProcess::NormalExit &&
               panel.exitCode() == 0;
    }

    std::unique_ptr<RigProcess> rig;
    QProcess panel;
    QString window;
    QVariantMap seeded;
};

// The faults of a rig's host, in turn: the rig is killed and comes back playing the fault (its
// arguments) until it says the fault is over (its line), or after `lastsMs` (a silence, a host
// away); then a good rig is back, and audio must flow again without anyone touching the panel.
// A flood is noise at the panel's UDP port from the rig's address for `lastsMs`, the link up.
struct Fault {
    const char* rig;
    const char* over;
    int lastsMs;
    bool flood;
};
const Fault kFaults[] = {
    {"", "", 0, false}, // killed, and back at once
    {"--hang-after 2 --hang-for 4", "^fault: hang over$", 0, false},
    {"--send-malformed", "disconnected", 0, false},
    {"--send-oversized 1048576", "disconnected", 0, false},
    {"--silent-after 1", "^fault: going silent", kFaultMs, false},
    {"", "", kFaultMs, true},
    {"", "", kOutageMs, false}, // away for a while, as a rig's computer restarting
};

// Odd-sized datagrams of noise, 1 byte to 64 KiB, at `port` for `ms`.
void flood(quint16 port, int ms) {
    QUdpSocket noise;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; !elapsed.hasExpired(ms); ++i) {
        QByteArray datagram(1 + QRandomGenerator::global()->bounded(65507), Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(datagram.data()),
                                              datagram.size() / 4);
        noise.writeDatagram(datagram, QHostAddress::LocalHost, port);
        if (i % 100 == 0)
            QCoreApplication::processEvents();
    }
}

// Milliseconds from a good rig's start to its audio flowing to the panel, or -1 when it did not
// within kRecoveryMs. A flood leaves the link up: 0, or -1 when it broke.
int recovery(Session& s, const Fault& fault) {
    static const QRegularExpression broken("disconnected \\(close code");
    if (fault.flood) {
        flood(s.seeded.value("inUDPPort").value<quint16>(), fault.lastsMs);
        return s.rig->lines.filter(broken).isEmpty() ? 0 : -1;
    }
    const int port = s.rig->url.port();
    s.rig->process.kill();
    if (*fault.rig && !(s.startRig(QString(fault.rig).split(' '), port) &&
                        s.rig->waitFor(QRegularExpression(fault.over), 0, kWaitMs)))
        return -1;
    QTest::qWait(fault.lastsMs);
    QElapsedTimer taken;
    taken.start();
    return s.startRig({}, port) && s.rig->waitFor(kAudioStarted, 0, kRecoveryMs) ? taken.elapsed()
                                                                                 : -1;
}

// The panel's open descriptors and threads, from /proc: what a fault must not leave behind.
QPair<int, int> leftovers(qint64 pid) {
    QFile status(QString("/proc/%1/status").arg(pid));
    const int threads =
        status.open(QIODevice::ReadOnly)
            ? QRegularExpression("Threads:\\s+(\\d+)").match(status.readAll()).captured(1).toInt()
            : 0;
    return {int(QDir(QString("/proc/%1/fd").arg(pid)).count()), threads};
}

// The OpenGL drivers a process maps, and what loads them. Qt's GUI library links the
// vendor-neutral dispatch itself (libGL, libGLX, libGLdispatch: no driver), so those do not count.
QStringList openGlDrivers(qint64 pid) {
    static const QRegularExpression driver(
        R"((lib(GLX_|EGL|GLES|OpenGL|LLVM|gallium|glapi)|_dri\.so|xcbglintegrations/))");
    QFile maps(QString("/proc/%1/maps").arg(pid));
    QStringList found;
    if (maps.open(QIODevice::ReadOnly))
        for (const QString& line : QString::fromLocal8Bit(maps.readAll()).split('\n'))
            if (line.contains(driver) && !found.contains(line.section(' ', -1)))
                found << line.section(' ', -1);
    return found;
}

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

    // Both ways through the real devices. The cable carries what the rig sent; the speaker, set
    // to RX1, the right channel on both sides. A tone played into the capture cable at the
    // host's rate reaches the rig at its pitch and the host's rate (the panel captures at twice
    // it). The window wears the stored theme (the window colour #31363b); the shown,
    // connected panel maps no OpenGL driver; SIGHUP ends the panel.
    void audioAtTheFarEnds() {
        Session s;
        const QString recording = s.dir.filePath("at-the-rig.wav");
        QVERIFY(s.connectToRig(1, {"--record", recording}));
        QString wrong = wrongTones(s.listen("UMX VAC RX Out"), kLeftHz, kRightHz);
        QVERIFY2(wrong.isEmpty(), qPrintable("virtual cable: " + wrong));
        wrong = wrongTones(s.listen("UMX Speaker Monitor"), kRightHz, kRightHz);
        QVERIFY2(wrong.isEmpty(), qPrintable("speaker: " + wrong));
        const QByteArray corner =
            s.run("import", {"-window", s.window, "-crop", "1x1+2+2", "txt:-"});
        QVERIFY2(corner.contains("srgb(49,54,59)"), corner.constData());
        const QStringList drivers = openGlDrivers(s.panel.processId());
        QVERIFY2(drivers.isEmpty(), qPrintable(drivers.join('\n')));

        // 1.5 s of the tone from other software, then silence.
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
        QVERIFY(s.close(SIGHUP));
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

    // The rig's host fails, and nobody touches the panel: audio flows again each time. In the
    // main suite the host is killed and back at once; with UMX_SOAK_MINUTES every fault comes in
    // turn for that long, and no descriptor or thread is left behind. Then a logout's SIGTERM
    // ends the panel as Quit does, its settings saved.
    void faultsAreRiddenOut() {
        const double minutes = qEnvironmentVariable("UMX_SOAK_MINUTES").toDouble();
        Session s;
        const QByteArray serverPorts = s.run("jack_lsp", {});
        QVERIFY(s.connectToRig());
        QList<QPair<int, int>> left; // after each fault, in the steady state
        QList<int> recoveries;
        QElapsedTimer soak;
        soak.start();
        for (int n = 0; n == 0 || soak.elapsed() < minutes * 60000; ++n) {
            recoveries << recovery(s, kFaults[n % std::size(kFaults)]);
            QVERIFY2(recoveries.last() >= 0, qPrintable(QString("fault %1").arg(n)));
            if (minutes > 0) {
                QTest::qWait(kSteadyMs);
                left << leftovers(s.panel.processId());
            }
        }
        const QString wrong = wrongTones(s.listen("UMX VAC RX Out"), kLeftHz, kRightHz);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        if (minutes > 0) {
            std::sort(recoveries.begin(), recoveries.end());
            qInfo("soak: %d faults in %.1f min, audio again after a median %d ms, at most %d ms; "
                  "descriptors %d -> %d, threads %d -> %d",
                  int(recoveries.size()), soak.elapsed() / 60000.0,
                  recoveries[recoveries.size() / 2], recoveries.last(), left.first().first,
                  left.last().first, left.first().second, left.last().second);
            // No more at the end than at any point of the first round of faults.
            int descriptors = 0, threads = 0;
            for (const auto& [d, t] : left.mid(0, std::size(kFaults))) {
                descriptors = qMax(descriptors, d);
                threads = qMax(threads, t);
            }
            QVERIFY(left.last().first <= descriptors && left.last().second <= threads);
        }

        QVERIFY(s.close());
        QVERIFY(s.rig->waitFor(QRegularExpression("^<- .*\"stopOutput\"")));
        QVERIFY(s.rig->waitFor(QRegularExpression("disconnected \\(close code 1000\\)$")));
        // Every key written, the seeded ones as they were, the window's geometry with them.
        const QSettings saved(s.dir.filePath("Hoska/uMX.conf"), QSettings::IniFormat);
        const PanelSettings keys;
        forEachSetting(keys, [&](const char* key, auto&&...) {
            QVERIFY2(saved.contains(key), key);
            QVERIFY2(!s.seeded.contains(key) || saved.value(key) == s.seeded.value(key), key);
        });
        QVERIFY(!saved.value("geometry").toByteArray().isEmpty());
        // A JACK server waits out every client that dies without closing; PipeWire does not.
        if (audioClients().contains("JACK_DEFAULT_SERVER"))
            QCOMPARE(s.run("jack_lsp", {}), serverPorts);
    }

    // Nonsense where a value goes is taken as no value, and Qt's own options as in any Qt
    // program: the panel runs (its window shows), and SIGINT ends it as Quit does.
    void anOddCommandLineRuns() {
        Session s;
        QVERIFY(s.startPanel({"-L", "%s%n%x", "--theme", "../../etc/passwd", "--log-file",
                              "/proc/umx.log", "x😀", "-style", "Fusion", "-session", "ID"}));
        QVERIFY(s.close(SIGINT));
    }

    // With a tray, --hidden starts the panel there: once its tray menu has opened, no window has
    // shown. A second panel is refused before it touches the running one's log file, which
    // keeps the first panel's lines at the level it asked for.
    void hiddenInTheTrayAndTheSecondPanelIsRefused() {
        Session s;
        const QString log = s.dir.filePath("shared.log");
        QVERIFY(!s.startPanel({"--hidden", "--log-file", log}, 0));
        const QString icon = s.findWindow(s.panel.processId(), "", kWaitMs, true);
        QVERIFY(!icon.isEmpty());
        s.run("xdotool", {"mousemove", "--window", icon, "4", "4", "click", "3"});
        const QStringList search = {
            "search", "--onlyvisible", "--pid", QString::number(s.panel.processId()), "--name", ""};
        QTRY_VERIFY_WITH_TIMEOUT(s.run("xdotool", search).count('\n') >= 2, kWaitMs);
        QVERIFY(s.findWindow(s.panel.processId(), "^UMX control panel", 0).isEmpty());
        s.run("xdotool", {"key", "Escape"});

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        QVERIFY2(before.contains("     Debug: "), before.constData());
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
        file.seek(0);
        QVERIFY(file.readAll().startsWith(before));
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
