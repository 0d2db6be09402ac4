// SPDX-License-Identifier: GPL-3.0-or-later
// The real executables as their operator runs them, for what only real processes and devices
// show: umx under the X server, connecting at start as its settings ask, umx-rigsim at the far end
// of the control channel, and the cables of the suite's own audio server at the far ends of the
// sound devices. With UMX_SOAK_MINUTES set, faultsAreRiddenOut is the fault soak.

#include "panelsettings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace {

constexpr int kCableRate = 96000;
constexpr int kHostRate = 48000;
constexpr double kLeftHz = 1000.0;
constexpr double kRightHz = 1500.0;
constexpr double kTransmitHz = 700.0;
constexpr int kWaitMs = 30000;
// A key that arrives before the window has taken the focus is lost: it is sent again when it took
// no effect within this time.
constexpr int kKeyEffectMs = 3000;
constexpr int kAttempts = 5;
// The tray icon's menu is taller than this, its tool tip is not.
constexpr int kMenuHeight = 100;
// A second of a far end, judged by its best sixteenth: a loaded machine leaves a gap in the
// playback now and then.
constexpr int kListenMs = 1000;
constexpr int kStretch = kCableRate / 16;

// A run of silence at the cable is the audio server's when the server logged a cycle of its own
// run late (its own xrun) this close to it: the recording's frames are placed in time from when
// it started, the server's lines by their stamps. The xruns are JACK's dummy backend's late
// cycles, and PipeWire's cycles that one of the server's own nodes (a cable's ends, its driver)
// had not finished when the next began; not a client's late node, which may be the panel's, nor
// one at position 0, which is a node left driving itself when a client's stream stopped.
constexpr qint64 kServerXrunNearMs = 1000;
const QRegularExpression
    kServerXrun(R"(^(\d+\.\d+) (JackTimedDriver::Process XRun|)"
                R"(.*\((umx_\w+|Dummy-Driver)-\d+\) client too slow! \S+ pos:[1-9]))");

// The host away in an outage: long enough for the third reconnection attempt and beyond.
constexpr int kOutageMs = 20000;
// A silence of the host, as long as its hang: long enough for low status ticks, short of a
// give-up.
constexpr int kFaultMs = 4000;
// The soak reads the panel's figures this long after audio flows again, in its steady state.
constexpr int kSteadyMs = 2000;
// Audio flows again this soon after the host is back: the next attempt after the host returns
// comes at most 30 s later, and connecting takes a moment.
constexpr int kRecoveryMs = 35000;

const QRegularExpression kAudioStarted("^audio started to ");
// The rig's report of a second of the panel's audio with the transmit tone in it: the host's rate
// to within a capture block or two, its peak at about -6 dBFS.
const QRegularExpression kReceived("^rx (4[5-9]|5[01])\\d{3} samples/s.* peak -[4-8]\\.\\d dBFS$");

// One channel of 16-bit little-endian stereo, scaled to [-1, 1).
QVector<double> channelOf(const QByteArray& stereo, int channel) {
    QVector<double> samples;
    for (int at = 2 * channel; at + 1 < stereo.size(); at += 4)
        samples << qFromLittleEndian<qint16>(stereo.constData() + at) / 32768.0;
    return samples;
}

// What is wrong with a recording of the cable, which should carry the left tone on the left and
// the right tone on the right at about -6 dBFS; empty when nothing is. A channel carries its tone
// when a sixteenth of a second of it crosses zero as often as the tone does, give or take the
// drift controller's 0.5 % fast or slow, and peaks at its level: the other tone mixed in, a tone
// at another pitch or level, or a gap, leave no sixteenth that passes.
QString wrongTones(const QByteArray& stereo) {
    QString wrong;
    for (const auto& [channel, hz] : {std::pair{0, kLeftHz}, std::pair{1, kRightHz}}) {
        const QVector<double> samples = channelOf(stereo, channel);
        bool heard = false;
        for (int at = 0; at + kStretch <= samples.size() && !heard; at += kStretch / 4) {
            int crossings = 0;
            double peak = 0.0;
            for (int i = at + 1; i < at + kStretch; ++i) {
                crossings += (samples.at(i - 1) < 0) != (samples.at(i) < 0);
                peak = std::max(peak, std::abs(samples.at(i)));
            }
            heard = std::abs(crossings - 2 * hz * kStretch / kCableRate) <= 2 && peak > 0.35 &&
                    peak < 0.6; // -6 dBFS, 0.5, give or take 3 dB
        }
        if (!heard)
            wrong += QString::asprintf("channel %d: no %g Hz tone at its level; ", channel, hz);
    }
    return wrong;
}

// The machine itself stopped for a moment (a virtual machine's host ran something else): a thread
// at a real-time priority above the audio server's and the panel's, woken every millisecond,
// notes each wake kMachineStall late or more. A silence at the cable this close to one is the
// machine's; the recording's frames are placed in time from when it was started. Where the
// system refuses the priority nothing is noted, and nothing excused.
constexpr std::chrono::microseconds kMachineStall{2000};
constexpr qint64 kMachineStallNearMs = 250;

class MachineStalls {
public:
    MachineStalls()
        : watcher([this] { watch(); }) {}
    ~MachineStalls() {
        running = false;
        watcher.join();
    }
    // The stalls noted within kMachineStallNearMs of `at` (ms since the epoch), as "N ms".
    QStringList near(qint64 at) {
        const std::lock_guard<std::mutex> hold(lock);
        QStringList found;
        for (const auto& [whenMs, lateUs] : stalls)
            if (std::abs(whenMs - at) <= kMachineStallNearMs)
                found << QString::asprintf("%.1f ms", lateUs / 1000.0);
        return found;
    }

private:
    void watch() {
        sched_param param{};
        param.sched_priority = 90;
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) != 0)
            return;
        using Clock = std::chrono::steady_clock;
        Clock::time_point next = Clock::now();
        while (running) {
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
            const Clock::time_point now = Clock::now();
            const auto late = std::chrono::duration_cast<std::chrono::microseconds>(now - next);
            if (late < kMachineStall)
                continue;
            const std::lock_guard<std::mutex> hold(lock);
            stalls.append({QDateTime::currentMSecsSinceEpoch(), late.count()});
            next = now;
        }
    }

    std::atomic<bool> running{true};
    std::mutex lock;
    QVector<QPair<qint64, qint64>> stalls; // when each ended (ms since the epoch), how late (us)
    std::thread watcher;
};

// What the audio server's clients need in their environment, as `audio-server env` prints it:
// the JACK server's name, or for PipeWire the ALSA configuration that leads to its cables.
QProcessEnvironment audioClients;

} // namespace

// A folder for settings, temporary files (the single-instance lock) and runtime files, and the
// suite's own audio server: what every program started from here sees; and one panel there with
// the rig it connects to. The server is named after the suite's process, with no "_": the audio
// server script clears what a server X left behind by the pattern X_*, which would take in a
// running "umx_e2e_PID".
class Session {
public:
    // Every line the rig prints is kept, so a check can wait for one.
    Session() {
        QObject::connect(&rig, &QProcess::readyReadStandardOutput, &rig, [this] {
            while (rig.canReadLine())
                rigLines << QString::fromUtf8(rig.readLine()).trimmed();
        });
        QFile(lateDevices()).open(QIODevice::WriteOnly);
    }
    ~Session() {
        close();
        rig.terminate();
        rig.waitForFinished(kWaitMs);
        if (QTest::currentTestFailed())
            qWarning("panel, the end of its log (without the sound system's probing):\n%s\n"
                     "rig, its last lines:\n%s",
                     qPrintable(lastLines(log(), 80)),
                     qPrintable(rigLines.mid(rigLines.size() - 30).join('\n')));
    }

    // The last `count` lines of a panel's log, less the debug lines ALSA and JACK print while
    // PortAudio probes their devices (hundreds for each device list).
    static QString lastLines(const QByteArray& log, int count) {
        QStringList lines = QString::fromUtf8(log).split('\n');
        lines.erase(
            std::remove_if(lines.begin(), lines.end(),
                           [](const QString& line) { return line.contains("Debug: PortAudio:"); }),
            lines.end());
        return lines.mid(std::max(0, int(lines.size()) - count)).join('\n');
    }

    QProcessEnvironment env() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString server = QString("umx-e2e-%1").arg(QCoreApplication::applicationPid());
        env.insert("UMX_JACK_SERVER", server);
        env.insert("JACK_DEFAULT_SERVER", server);
        env.insert("JACK_NO_START_SERVER", "1");
        env.insert("UMX_AUDIO_RUN_DIR", dir.filePath("audio-server"));
        for (const char* folder : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "TMPDIR"})
            env.insert(folder, dir.path());
        env.insert(audioClients);
        // Devices plugged in while the session runs: ALSA reads this file after its own
        // configuration.
        env.insert("ALSA_CONFIG_PATH", env.value("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf") +
                                           ':' + lateDevices());
        return env;
    }

    QString lateDevices() const { return dir.filePath("late-devices.conf"); }
    void plugIn(const QByteArray& definition) {
        QFile plugged(lateDevices());
        if (plugged.open(QIODevice::Append))
            plugged.write(definition);
    }

    // What the panel has logged (its standard error), or a log file of the session's folder.
    QByteArray log(const QString& name = "panel.log") const {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Starts a program in the session's environment; umx and umx-rigsim are the ones built.
    void launch(QProcess& process, const QString& program, const QStringList& arguments) {
        process.setProcessEnvironment(env());
        const QString built = qEnvironmentVariable("UMX_BIN_DIR") + '/' + program;
        process.start(program.startsWith("umx") ? built : program, arguments);
    }

    // What a helper program prints, run to its end. Events go on meanwhile: the rig's lines keep
    // coming in.
    QByteArray run(const QString& program, const QStringList& arguments,
                   const QByteArray& input = {}) {
        QProcess process;
        launch(process, program, arguments);
        process.write(input);
        process.closeWriteChannel();
        (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, kWaitMs);
        return process.readAllStandardOutput();
    }

    // A visible window of process `pid` with a title that matches, once there is one: a window
    // at least 100 pixels wide, or a smaller one (the tray icon, a menu) when `small`.
    QString findWindow(qint64 pid, const QString& title, bool small = false,
                       int timeoutMs = kWaitMs) {
        const QRegularExpression size(
            QString("Window (\\d+)\\n.*\\n\\s*Geometry: \\d{%1}x").arg(small ? "1,2" : "3,"));
        const QStringList search =
            QString("search --all --onlyvisible --pid %1 --name").arg(pid).split(' ') +
            QStringList{title, "getwindowgeometry", "%@"};
        QString found;
        (void)QTest::qWaitFor(
            [&] { return !(found = size.match(run("xdotool", search)).captured(1)).isEmpty(); },
            timeoutMs);
        return found;
    }

    // The windows of the panel that show (its window, its tray icon, an open menu, the icon's
    // tool tip), those at least `tall` pixels high.
    QStringList shownWindows(int tall = 0) {
        static const QRegularExpression shown(R"(Window (\d+)\n.*\n\s*Geometry: \d+x(\d+))");
        QStringList windows;
        const QString found = run("xdotool", {"search", "--all", "--onlyvisible", "--pid",
                                              QString::number(panel.processId()), "--name", "",
                                              "getwindowgeometry", "%@"});
        for (auto window = shown.globalMatch(found); window.hasNext();)
            if (const auto match = window.next(); match.captured(2).toInt() >= tall)
                windows << match.captured(1);
        return windows;
    }

    // Switches the speaker from the tray icon's menu as its operator does, until the panel has
    // logged `line` `times` times. The keys go once the menu shows: Qt takes the keyboard for a
    // menu as it maps it, and keys sent before then (a busy X server or panel maps it late) reach
    // the window that has the focus. The icon is clicked again when no menu shows, and the menu
    // is opened again only when it closed and the entry was not taken ("Action audio") within
    // kWaitMs, or never closed: choosing the entry twice would undo the switch, and a panel busy
    // as the menu closes takes the entry late.
    bool switchSpeaker(const QString& icon, const QByteArray& line, int times) {
        const int actions = log().count("Action audio");
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            const QStringList before = shownWindows();
            QString menu;
            const auto closed = [&] {
                return !shownWindows().contains(menu);
            };
            run("xdotool", {"mousemove", "--window", icon, "4", "4", "click", "3"});
            if (!QTest::qWaitFor(
                    [&] {
                        for (const QString& window : shownWindows(kMenuHeight))
                            menu = before.contains(window) ? menu : window;
                        return !menu.isEmpty();
                    },
                    kKeyEffectMs)) {
                qWarning("speaker switch %d, attempt %d: no menu showed", times, attempt + 1);
                continue;
            }
            run("xdotool", {"key", "Down", "Down", "Return"});
            const bool menuClosed = QTest::qWaitFor(closed, kWaitMs);
            if (menuClosed &&
                QTest::qWaitFor([&] { return log().count("Action audio") > actions; }, kWaitMs)) {
                if (QTest::qWaitFor([&] { return log().count(line) == times; }, kWaitMs))
                    return true;
                qWarning("speaker switch %d: \"%s\" logged %d times, \"Action audio\" %d times",
                         times, line.constData(), int(log().count(line)),
                         int(log().count("Action audio")));
                return false;
            }
            qWarning("speaker switch %d, attempt %d: %s", times, attempt + 1,
                     menuClosed ? "the menu closed, no \"Action audio\"" : "the menu stayed open");
            run("xdotool", {"key", "Escape"});
            (void)QTest::qWaitFor(closed, kKeyEffectMs);
        }
        return false;
    }

    // Runs xdotool with these arguments (a key, a click) until `done` holds within kKeyEffectMs
    // of a run.
    bool retry(const QStringList& xdotool, const std::function<bool()>& done) {
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            run("xdotool", xdotool);
            if (QTest::qWaitFor(done, kKeyEffectMs))
                return true;
        }
        return false;
    }

    // The arguments of arecord for `ms` of the cable's far end, 16-bit stereo at the cables' rate.
    static QStringList recording(int ms) {
        return QString("-q -t raw -f S16_LE -c 2 -r %1 -D").arg(kCableRate).split(' ')
               << "UMX VAC RX Out"
               << "-s" << QString::number(kCableRate / 1000 * ms);
    }

    // What is wrong with a second of the cable's far end, once it is right or after kWaitMs (the
    // panel opens its streams a moment after the rig starts sending, and its playout then primes).
    QString listen() {
        QString wrong;
        (void)QTest::qWaitFor(
            [&] { return (wrong = wrongTones(run("arecord", recording(kListenMs)))).isEmpty(); },
            kWaitMs);
        return wrong;
    }

    // umx-rigsim as operators and scripts run it, on a free port unless told which. A rig started
    // later replaces the one before.
    bool startRig(const QStringList& arguments = {}, int port = 0) {
        static const QRegularExpression ready(R"(^ready ws://[\d.]+:(\d+) udp-in \d+$)");
        rig.kill();
        rig.waitForFinished(kWaitMs);
        rigLines.clear();
        launch(rig, "umx-rigsim",
               QStringList{"--listen", QString("127.0.0.1:%1").arg(port), "--udp-in-port", "0"} +
                   arguments);
        if (!waitFor(ready))
            return false;
        rigPort = ready.match(rigLines.filter(ready).constFirst()).captured(1).toInt();
        return true;
    }

    // Whether a line of the rig's matches, once it is there.
    bool waitFor(const QRegularExpression& pattern, int timeoutMs = kWaitMs) {
        return QTest::qWaitFor([&] { return !rigLines.filter(pattern).isEmpty(); }, timeoutMs);
    }

    // Whether its window shows within `timeoutMs`.
    bool startPanel(const QStringList& arguments = {}, int timeoutMs = kWaitMs) {
        panel.setStandardErrorFile(dir.filePath("panel.log"));
        launch(panel, "umx", QStringList{"--log-level", "debug"} + arguments);
        window = findWindow(panel.processId(), "^UMX control panel", false, timeoutMs);
        return !window.isEmpty();
    }

    // A rig; the settings the panel finds: the rig, the audio server's devices (the cable as
    // given), the speaker on, a free local UDP port, a theme, and to connect at start; and the
    // panel connected to the rig, the rig sending.
    bool connectToRig(const QString& cable) {
        if (!startRig())
            return false;
        const auto freePort = [] { // free once the probe is gone, before the panel binds it
            QUdpSocket probe;
            probe.bind(QHostAddress::LocalHost, 0);
            return probe.localPort();
        };
        seeded = {{"listRigs", QStringList{QString("127.0.0.1:%1").arg(rigPort)}},
                  {"selectedRig", 0},
                  {"outputDevice", cable},
                  {"inputDevice", "Line In (UMX VAC)"},
                  {"audioDevice", "UMX Speaker"},
                  {"speakerOn", true},
                  {"inUDPPort", freePort()},
                  {"localIP", "127.0.0.1"},
                  {"theme", "dark_amber"},
                  {"connectAtStart", true}};
        QSettings store(dir.filePath("Hoska/uMX.conf"), QSettings::IniFormat);
        for (auto key = seeded.cbegin(); key != seeded.cend(); ++key)
            store.setValue(key.key(), key.value());
        return startPanel() && waitFor(kAudioStarted);
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

    QTemporaryDir dir;
    QStringList rigLines;
    QProcess rig;
    int rigPort = 0;
    QProcess panel;
    QString window;
    QVariantMap seeded;
};

// The faults of a rig's host, in turn: the rig is killed and comes back playing the fault (its
// arguments) until it says the fault is over (its line), or after `lastsMs` (a silence, a host
// away); then a good rig is back, and audio must flow again without anyone touching the panel.
struct Fault {
    const char* rig;
    const char* over;
    int lastsMs;
};
const Fault kFaults[] = {
    {"", "", 0}, // killed, and back at once
    {"--hang-after 2 --hang-for 4", "^fault: hang over$", 0},
    {"--send-malformed", "disconnected", 0},
    {"--send-oversized 1048576", "disconnected", 0},
    {"--silent-after 1", "^fault: going silent", kFaultMs},
    {"", "", kOutageMs}, // away for a while, as a rig's computer restarting
};

// Whether a good rig's audio flows to the panel again within kRecoveryMs of its start.
bool recovers(Session& s, const Fault& fault) {
    s.rig.kill();
    if (*fault.rig && !(s.startRig(QString(fault.rig).split(' '), s.rigPort) &&
                        s.waitFor(QRegularExpression(fault.over))))
        return false;
    QTest::qWait(fault.lastsMs);
    return s.startRig({}, s.rigPort) && s.waitFor(kAudioStarted, kRecoveryMs);
}

class TestEndToEnd : public QObject {
    Q_OBJECT

    Session audio;

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
                audioClients.insert(match.captured(1), match.captured(2));
        QVERIFY2(!audioClients.isEmpty(), qPrintable(variables));
    }
    void cleanupTestCase() { audioServer("stop"); }

    // Whether the audio server lost time itself (an xrun of its own, in its log, whose lines
    // scripts/audio-server stamps) within kServerXrunNearMs of `at`, ms since the epoch.
    bool serverLostTime(qint64 at) {
        for (const char* name : {"audio-server/jackd.log", "audio-server/pipewire.log"})
            for (const QByteArray& line : audio.log(name).split('\n'))
                if (const auto xrun = kServerXrun.match(QString::fromUtf8(line));
                    xrun.hasMatch() &&
                    std::abs(qint64(xrun.captured(1).toDouble() * 1000) - at) <= kServerXrunNearMs)
                    return true;
        return false;
    }

    // A connected panel through the real devices, as a session goes. Its cable is plugged in after
    // it connected (a USB interface switched on late): it is found while the audio flows. The
    // window wears the stored theme (the window colour #31363b) and maps no OpenGL driver. A tone
    // played into the capture cable at the host's rate reaches the rig at the host's rate (the
    // panel captures at twice it) and at its level. The speaker switched off and on ten times from
    // the tray's menu leaves no gap in the cable's tone (half a millisecond of silence) but where
    // the audio server or the machine lost time itself. The rig's host fails, and nobody touches
    // the panel: audio flows again each time, the cable carrying what the rig sent, its left tone
    // on the left and its right one on the right. In the main suite the host is killed and back at
    // once; with UMX_SOAK_MINUTES every fault comes in turn for that long, and no descriptor or
    // thread is left behind. Then a logout's SIGTERM ends the panel as Quit does, its settings
    // saved.
    void faultsAreRiddenOut() {
        const double minutes = qEnvironmentVariable("UMX_SOAK_MINUTES").toDouble();
        Session s;
        const QByteArray serverPorts = s.run("jack_lsp", {});
        QVERIFY(s.connectToRig("UMX Late Cable"));
        QVERIFY(QTest::qWaitFor([&] { return s.log().contains("\"UMX Late Cable\" is missing"); },
                                kWaitMs));
        s.plugIn(
            "pcm.\"UMX Late Cable\" { type asym; playback.pcm \"Line Volume (2- UMX VAC)\" }\n");
        QString wrong = s.listen();
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        const QByteArray corner =
            s.run("import", {"-window", s.window, "-crop", "1x1+2+2", "txt:-"});
        QVERIFY2(corner.contains("srgb(49,54,59)"), corner.constData());
        // No OpenGL driver mapped: Mesa's, LLVM, a DRI driver, or Qt's integration that loads
        // them (Qt's GUI library links only the vendor-neutral libGL, libGLX and libGLdispatch).
        static const QRegularExpression driver(
            R"(\S*(lib(GLX_|EGL|GLES|OpenGL|LLVM|gallium|glapi)|_dri\.so|xcbglintegrations/)\S*)");
        QFile maps(QString("/proc/%1/maps").arg(s.panel.processId()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QString mapped = QString::fromLocal8Bit(maps.readAll());
        QVERIFY2(!mapped.contains(driver), qPrintable(driver.match(mapped).captured()));

        // 3 s of the tone from other software reach the rig at the host's rate (the panel
        // captures at twice it; a second counts whole capture blocks of 43 ms) and at its level.
        QByteArray mono(kHostRate * 6, Qt::Uninitialized);
        for (int i = 0; i < kHostRate * 3; ++i)
            qToLittleEndian(qint16(16384 * std::sin(2 * M_PI * kTransmitHz * i / kHostRate)),
                            mono.data() + 2 * i);
        s.run("aplay",
              QString("-q -t raw -f S16_LE -c 1 -r %1 -D").arg(kHostRate).split(' ')
                  << "UMX VAC TX In",
              mono);
        QVERIFY2(s.waitFor(kReceived), qPrintable(s.rigLines.filter("rx ").join('\n')));

        const QString icon = s.findWindow(s.panel.processId(), "", true);
        MachineStalls machine;
        QProcess recorder;
        const qint64 recordedFrom = QDateTime::currentMSecsSinceEpoch();
        s.launch(recorder, "arecord", s.recording(20000));
        for (int round = 1; round <= 10; ++round) {
            QVERIFY(s.switchSpeaker(icon, "Speaker off", round));
            QVERIFY(s.switchSpeaker(icon, "Speaker on: ", round + 1));
        }
        // A busy machine may switch for longer than the recording lasts.
        QVERIFY(QTest::qWaitFor([&] { return recorder.state() == QProcess::NotRunning; }, kWaitMs));
        // No run of silence of half a millisecond in the left tone but where the server or the
        // machine lost time.
        QStringList gaps, excused;
        const QVector<double> left = channelOf(recorder.readAllStandardOutput(), 0) << 1.0;
        for (int i = 0, silent = 0; i < left.size(); ++i) {
            const qint64 at = recordedFrom + (i - silent) * 1000LL / kCableRate;
            if (std::abs(left.at(i)) < 0.01) {
                ++silent;
                continue;
            }
            const int frames = std::exchange(silent, 0);
            if (frames < kCableRate / 2000)
                continue;
            const QString gap = QString("%1 frames at %2 ms").arg(frames).arg(at - recordedFrom);
            const QStringList stalls = machine.near(at);
            if (serverLostTime(at))
                excused << gap + " (the server's xrun)";
            else if (!stalls.isEmpty())
                excused << gap + " (the machine stalled " + stalls.join(", ") + ")";
            else
                gaps << gap;
        }
        if (!excused.isEmpty())
            qInfo("silent where the server or the machine lost time: %s",
                  qPrintable(excused.join("; ")));
        QVERIFY2(gaps.isEmpty(), qPrintable("silent: " + gaps.join("; ")));

        // The panel's open descriptors and threads, in the steady state after each fault: what a
        // fault must not leave behind.
        QList<int> entries;
        QElapsedTimer soak;
        soak.start();
        for (int n = 0; n == 0 || soak.elapsed() < minutes * 60000; ++n) {
            QVERIFY2(recovers(s, kFaults[n % std::size(kFaults)]), qPrintable(QString::number(n)));
            if (minutes > 0) {
                QTest::qWait(kSteadyMs);
                const QDir proc(QString("/proc/%1").arg(s.panel.processId()));
                const auto filter = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;
                entries << QDir(proc.filePath("fd")).entryList(filter).size() +
                               QDir(proc.filePath("task")).entryList(filter).size();
            }
        }
        wrong = s.listen();
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        if (minutes > 0) {
            // No more at the end than at any point of the first round of faults.
            const QList<int> first = entries.mid(0, std::size(kFaults));
            qInfo("soak: %d faults in %.1f min; descriptors and threads %d -> %d",
                  int(entries.size()), soak.elapsed() / 60000.0, entries.first(), entries.last());
            QVERIFY(entries.last() <= *std::max_element(first.begin(), first.end()));
        }

        QVERIFY(s.close());
        QVERIFY(s.waitFor(QRegularExpression("^<- .*\"stopOutput\"")));
        QVERIFY(s.waitFor(QRegularExpression("disconnected \\(close code 1000\\)$")));
        // Every key written, the seeded ones as they were, the window's geometry with them.
        const QSettings saved(s.dir.filePath("Hoska/uMX.conf"), QSettings::IniFormat);
        const PanelSettings keys;
        forEachSetting(keys, [&](const char* key, auto&&...) {
            QVERIFY2(saved.contains(key), key);
            QVERIFY2(!s.seeded.contains(key) || saved.value(key) == s.seeded.value(key), key);
        });
        QVERIFY(!saved.value("geometry").toByteArray().isEmpty());
        // A JACK server waits out every client that dies without closing; PipeWire does not.
        if (audioClients.contains("JACK_DEFAULT_SERVER"))
            QCOMPARE(s.run("jack_lsp", {}), serverPorts);
    }

    // With a tray, --hidden starts the panel there: once its tray menu has opened, no window has
    // shown. A second panel is refused before it touches the running one's log file, which
    // keeps the first panel's lines at the level it asked for. SIGHUP ends the first panel. Then
    // a panel started with nonsense where a value goes takes it as no value, and Qt's own options
    // as any Qt program does: it runs (its window shows), and SIGINT ends it as Quit does.
    void hiddenInTheTrayTheSecondPanelRefusedAndAnOddCommandLineRuns() {
        Session s;
        QVERIFY(!s.startPanel({"--hidden", "--log-file", s.dir.filePath("shared.log")}, 0));
        const QString icon = s.findWindow(s.panel.processId(), "", true);
        s.run("xdotool", {"mousemove", "--window", icon, "4", "4", "click", "3"});
        QTRY_VERIFY_WITH_TIMEOUT(!s.shownWindows(kMenuHeight).isEmpty(), kWaitMs);
        QVERIFY(s.findWindow(s.panel.processId(), "^UMX control panel", false, 0).isEmpty());
        s.run("xdotool", {"key", "Escape"});

        const QByteArray before = s.log("shared.log");
        QVERIFY2(before.contains("     Debug: "), before.constData());
        QProcess second;
        s.launch(second, "umx", {"--log-file", s.dir.filePath("shared.log")});
        // Its only window is the box that says the panel is already running.
        const QString box = s.findWindow(second.processId(), "^UMX Control Panel$");
        QVERIFY(!box.isEmpty());
        QVERIFY(s.retry({"windowfocus", "--sync", box, "key", "Return"},
                        [&] { return second.state() == QProcess::NotRunning; }));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(s.log("shared.log").startsWith(before));
        QVERIFY(s.close(SIGHUP));

        QVERIFY(s.startPanel({"-L", "%s%n%x", "--theme", "../../etc/passwd", "--log-file",
                              "/proc/umx.log", "x😀", "-style=Fusion", "-session", "ID"}));
        QVERIFY(s.close(SIGINT));
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
