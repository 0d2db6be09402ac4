// SPDX-License-Identifier: GPL-3.0-or-later
// Whole flows of the panel, each from the operator's connect to its end: what the host received,
// what the sound card played and what the window shows.
#include "hssmeterwidget.h"
#include "scenario.h"
#include "statusline.h"

#include <QLabel>
#include <QSystemTrayIcon>
#include <QToolButton>

#include <algorithm>
#include <numeric>

namespace {

// Stereo frames whose left and right samples are both numbered: left n, right 1000 + n.
QByteArray numberedFrames(int frames) {
    QVector<qint16> samples;
    for (int n = 0; n < frames; ++n)
        samples << qint16(n) << qint16(1000 + n);
    return QByteArray(reinterpret_cast<const char*>(samples.constData()), samples.size() * 2);
}

// Right minus left of every stereo frame.
QVector<int> channelDifferences(const QByteArray& played) {
    const auto* samples = reinterpret_cast<const qint16*>(played.constData());
    QVector<int> differences;
    for (int i = 0; i + 1 < played.size() / 2; i += 2)
        differences << samples[i + 1] - samples[i];
    return differences;
}

using State = HSRigLink::State;

constexpr int None = 0, SilentHost = 1, CardFails = 2; // how a first connection fails

} // namespace

class Scenarios : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void audioFlowsBothWays() {
        Scenario s({}, [](QSettings& store) { store.setValue("frameOutMult", 4); });
        QVERIFY(s.connectAndStream());
        QCOMPARE(s.host.received.first(), QString("localInfo"));
        QCOMPARE(s.card.format().sampleRate, 2 * s.host.sampleRate);
        QCOMPARE(s.card.frameOutMult(), 4); // the stored RX buffer depth

        // Resampled to twice the host's rate, each channel in its place: right - left is 1000.
        QVERIFY(QTest::qWaitFor([&] {
            s.host.sendAudio(numberedFrames(s.host.frameSize));
            return channelDifferences(s.card.played()).count(1000) > s.host.frameSize;
        }));
        const QVector<int> differences = channelDifferences(s.card.played());
        QVERIFY(*std::min_element(differences.begin(), differences.end()) >= 0);
        // The left channel's small numbers lift the L meter's bars a little above M's, which
        // show silence, and the right's lift R's more (the top half of a meter is its bars).
        const QList<HSSMeterWidget*> meters = s.window->findChildren<HSSMeterWidget*>(); // L R M
        auto bars = [&](int i) {
            return meters[i]->grab(QRect(0, 0, 500, 40)).toImage();
        };
        QTRY_VERIFY(bars(0) != bars(2) && bars(0) != bars(1));

        // The worker sends the newest block: the card's own silence must not overtake this one.
        s.card.delivering = false;
        QVector<qint16> captured(4096);
        std::iota(captured.begin(), captured.end(), qint16(0));
        s.card.pushCapture(captured);
        const QVector<qint16> sent{0, 1, 4, 5, 8, 9, 12, 13};
        const QByteArray sentBytes(reinterpret_cast<const char*>(sent.constData()), 16);
        QTRY_VERIFY(s.host.receivedAudio().contains(sentBytes));
        s.card.delivering = true;
        // The worker counted the block before it sent it, and the rig's audio long before.
        s.fire("statusTimer");
        QVERIFY(QRegularExpression(R"(^Speed: [1-9]\d*/[1-9]\d* KBit\|Latency: )")
                    .match(s.status())
                    .hasMatch());
    }

    // The card's clock runs at its own pace against a host 1000 ppm fast or slow: after the
    // controller has learnt the skew the playout delay holds, at the "RX buffer" floor when one is
    // set, with no underrun and nothing dropped. 20 ms datagrams over 60 s of the card's time.
    void theCableHoldsItsDelayAgainstASkewedHostClock_data() {
        QTest::addColumn<double>("ppm");
        QTest::addColumn<int>("rxBuffer");
        QTest::addColumn<double>("leastMs");
        QTest::addColumn<double>("mostMs");
        QTest::newRow("host fast, Auto") << 1000.0 << 1 << 20.0 << 40.0;
        QTest::newRow("host slow, x4") << -1000.0 << 4 << 75.0 << 100.0;
    }
    void theCableHoldsItsDelayAgainstASkewedHostClock() {
        QFETCH(double, ppm);
        QFETCH(int, rxBuffer);
        Scenario s({}, [&](QSettings& store) { store.setValue("frameOutMult", rxBuffer); });
        s.card.idleClock = false;
        s.card.hostPpm = ppm;
        s.host.frameSize = 960;
        QVERIFY(s.connectAndStream());
        const QByteArray datagram = numberedFrames(s.host.frameSize);
        QVector<double> delays; // once a second of the card's time, from 20 s on
        for (int second = 0; second < 60; ++second) {
            for (int burst = 0; burst < 2; ++burst) {
                const qint64 sent = s.card.datagrams() + 25;
                for (int i = 0; i < 25; ++i)
                    s.host.sendAudio(datagram);
                QVERIFY(QTest::qWaitFor([&] { return s.card.datagrams() >= sent; }));
            }
            if (second >= 20)
                delays << s.link()->playoutStats().delayMs;
        }
        const PlayoutStats stats = s.link()->playoutStats();
        QCOMPARE(stats.underruns + stats.droppedFrames + stats.lostDatagrams, 0u);
        QVERIFY2(qAbs(stats.skewPpm - ppm) < 50, qPrintable(QString::number(stats.skewPpm)));
        const auto [least, most] = std::minmax_element(delays.begin(), delays.end());
        QVERIFY2(*most - *least < 2.0, qPrintable(QString("%1..%2 ms").arg(*least).arg(*most)));
        QFETCH(double, leastMs);
        QFETCH(double, mostMs);
        QVERIFY(*least >= leastMs && *most <= mostMs);
        s.fire("statusTimer");
        QVERIFY(s.window->statusBar()->toolTip().contains("\nUnderruns: 0 (0 ms of silence)\n"));
    }

    // Switched on and off while connected, the speaker's stream opens and closes alone: the
    // cable's and the capture's streams stay as they were and the cable never runs short. The
    // speaker joins the stream at once, with the chosen receiver on both sides.
    void theSpeakerComesAndGoesAlone() {
        Scenario s;
        s.card.idleClock = false;
        QVERIFY(s.connectAndStream());
        s.action("RX1")->trigger();
        auto* speaker = s.window->findChild<QToolButton*>("tbAudio");
        const QByteArray datagram = numberedFrames(s.host.frameSize);
        for (int round = 1; round <= 3; ++round) {
            speaker->setChecked(true);
            const int heard = s.card.speakerPlayed().size();
            const qint64 sent = s.card.datagrams();
            QVERIFY(QTest::qWaitFor([&] {
                s.host.sendAudio(datagram);
                const QByteArray played = s.card.speakerPlayed().mid(heard);
                const auto* samples = reinterpret_cast<const qint16*>(played.constData());
                for (int i = 0; i + 1 < played.size() / 2; i += 2)
                    if (samples[i] > 900 && samples[i] == samples[i + 1])
                        return true;
                return false;
            }));
            QVERIFY(s.card.datagrams() - sent < 20);
            speaker->setChecked(false);
            QVERIFY(s.streamUntilPlayed(datagram, s.card.played().size() + 4096));
            QCOMPARE(s.card.speakerOpened, round);
        }
        QCOMPARE(s.card.opened, 1);
        QCOMPARE(s.link()->playoutStats().underruns, 0u);
    }

    // A host that closes the connection and then accepts each attempt but never describes its
    // stream: the attempts follow the back-off, each waits for its answer, and status ticks
    // meanwhile do not give the link up. A success resets the schedule.
    void outagesOfAnyLengthAreRiddenOut() {
        Scenario s;
        QVERIFY(s.connectAndStream());
        s.host.silent = true;
        s.host.clients.first()->close();
        QTRY_VERIFY(!s.card.running());
        QList<int> delays;
        for (int attempt = 1; attempt <= 7; ++attempt) {
            QTRY_VERIFY(s.timer("reconnectTimer")->isActive());
            delays << s.timer("reconnectTimer")->interval();
            s.fire("statusTimer");
            QVERIFY(s.status().startsWith("Reconnecting in "));
            QVERIFY(s.spinnerShown());
            QCOMPARE(s.window->findChild<QSystemTrayIcon*>()->toolTip(), QString("Reconnecting"));
            s.fire("reconnectTimer");
            QTRY_COMPARE(s.host.received.count("localInfo"), attempt + 1);
            QVERIFY(s.fire("answerTimer"));
        }
        QCOMPARE(delays, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
        s.host.silent = false;
        QVERIFY(s.fire("reconnectTimer"));
        QTRY_COMPARE(s.state(), State::Streaming);
        QVERIFY(!s.spinnerShown());
        QVERIFY(s.streamUntilPlayed(numberedFrames(s.host.frameSize), 1));
        s.fire("statusTimer");
        QVERIFY(s.status().startsWith("Speed: "));
        QSignalSpy next(s.link(), &HSRigLink::reconnecting);
        s.host.vanish();
        QTRY_COMPARE(next.size(), 1);
        QCOMPARE(next.first().first().toInt(), 1000);
    }

    void onlyTheRigsAudioIsPlayed_data() {
        QTest::addColumn<bool>("anySender");
        QTest::newRow("from the rig only") << false;
        QTest::newRow("from any address") << true;
    }
    void onlyTheRigsAudioIsPlayed() {
        QFETCH(bool, anySender);
        Scenario s({}, [&](QSettings& store) { store.setValue("acceptAnySender", anySender); });
        QVERIFY(s.connectAndStream());
        QVERIFY(s.streamUntilPlayed(numberedFrames(s.host.frameSize), 1));
        QUdpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress("127.0.0.2"), 0));
        const QByteArray strange(4 * s.host.frameSize, '\x55');
        stranger.writeDatagram(strange, QHostAddress::LocalHost, s.host.panelPort);
        // The rig's next audio, sent after the stranger's, marks when both have been handled.
        const QByteArray marker(4 * s.host.frameSize, '\x33');
        QVERIFY(QTest::qWaitFor([&] {
            s.host.sendAudio(marker);
            return s.card.played().contains(QByteArray(16, '\x33'));
        }));
        QCOMPARE(s.card.played().contains(QByteArray(16, '\x55')), anySender);
    }

    // A device that stops is reopened after 0.5, 1, 2 and then every 5 s, and found by its name
    // when it is back; the link stays up.
    void aSoundDeviceThatStopsIsReopenedWhileTheLinkStaysUp() {
        Scenario s;
        QVERIFY(s.connectAndStream());
        s.card.delivering = false;
        s.card.capturePresent = false;
        const QString notice = QStringLiteral("Sound device \"%1\" unavailable, retrying")
                                   .arg(StandInSoundCard::kCapture);
        QTRY_COMPARE(s.status(), notice);
        QTRY_VERIFY(!s.card.running());
        QList<int> delays;
        for (int retry = 0; retry < 5; ++retry) {
            QTRY_VERIFY(s.timer("deviceRetryTimer")->isActive());
            delays << s.timer("deviceRetryTimer")->interval();
            s.fire("deviceRetryTimer");
        }
        QCOMPARE(delays, (QList<int>{500, 1000, 2000, 5000, 5000}));
        s.fire("statusTimer");
        QCOMPARE(s.status(), notice);

        QTRY_VERIFY(s.timer("deviceRetryTimer")->isActive());
        s.card.captureIndex = 3; // plugged back in under another index
        s.card.capturePresent = true;
        s.card.delivering = true;
        s.fire("deviceRetryTimer");
        QTRY_COMPARE(s.state(), State::Streaming);
        QVERIFY(s.card.running());
        QCOMPARE(s.card.openedCapture, 3);
    }

    // With callbacks there is no write to time out: a playback stream whose callback stops
    // running is found by the watchdog and reopened like any other device.
    void aCableThatStopsCallingBackIsReopened() {
        Scenario s;
        QVERIFY(s.connectAndStream());
        s.card.idleClock = false;
        QTRY_COMPARE(s.status(), soundDeviceNoticeText(StandInSoundCard::kCable));
        s.card.idleClock = true;
        QTRY_VERIFY(s.timer("deviceRetryTimer")->isActive());
        s.fire("deviceRetryTimer");
        QTRY_COMPARE(s.state(), State::Streaming);
        QCOMPARE(s.card.opened, 2);
    }

    void connectAtStartConnectsToTheSelectedRig() {
        Scenario s({}, [](QSettings& store) { store.setValue("connectAtStart", true); });
        s.window->connectIfAskedAtStart();
        QTRY_COMPARE(s.state(), State::Streaming);
    }

    // A capture device plugged in after the panel read its device list is found when connecting.
    void aDevicePluggedInAfterTheListWasReadIsFoundAtConnect() {
        Scenario s;
        s.card.capturePresent = false;
        for (int list = 0; list < 2; ++list) // the first list is start-up's, not read again
            s.card.EnumerateAudioDevices();
        QVERIFY(!s.card.captureDeviceNames().contains(StandInSoundCard::kCapture));
        s.card.capturePresent = true;
        QVERIFY(s.connectAndStream());
        QVERIFY(s.card.running());
    }

    void aMissingSpeakerLeavesTheCablePlaying() {
        Scenario s({}, [](QSettings& store) { store.setValue("audioDevice", "No such speaker"); });
        QVERIFY(s.connectAndStream());
        s.window->findChild<QToolButton*>("tbAudio")->setChecked(true);
        QVERIFY(s.streamUntilPlayed(numberedFrames(s.host.frameSize), 3 * 8 * s.host.frameSize));
        QVERIFY(s.card.speakerPlayed().isEmpty());
        QCOMPARE(s.state(), State::Streaming);
        QVERIFY(s.boxes.texts.isEmpty());
    }

    // A first connection that cannot be made is reported once, not retried, and leaves the
    // window usable.
    void aFirstConnectionThatCannotBeMadeIsReported_data() {
        QTest::addColumn<QString>("address"); // empty: the stand-in host's
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("box");
        const QString refused = "Unable connect to remote Rig";
        QTest::newRow("nothing listens") << "127.0.0.1:1" << None << refused;
        QTest::newRow("never answers") << QString() << SilentHost << refused;
        QTest::newRow("no port") << "127.0.0.1" << None
                                 << "Cannot connect: \"127.0.0.1\" has no port";
        QTest::newRow("card fails") << QString() << CardFails << "Unable to configure audio card";
    }
    void aFirstConnectionThatCannotBeMadeIsReported() {
        QFETCH(QString, address);
        QFETCH(int, failure);
        Scenario s(address);
        s.host.silent = failure == SilentHost;
        s.card.failOpen = failure == CardFails;
        s.pressConnect();
        if (s.host.silent) {
            QTRY_COMPARE(s.host.received, QStringList{"localInfo"});
            QCOMPARE(s.timer("answerTimer")->interval(), 10000);
            QVERIFY(s.fire("answerTimer"));
        }
        QTRY_COMPARE(s.boxes.texts.size(), 1);
        QFETCH(QString, box);
        QVERIFY(s.boxes.texts.first().startsWith(box));
        QCOMPARE(s.state(), State::Idle);
        QVERIFY(!s.timer("reconnectTimer")->isActive() && s.window->isEnabled());
        QVERIFY(!s.action("Connect to RIG")->isChecked());
    }

    // Text that is not a description, or a description beyond the 64 KiB a host message may
    // have, closes the connection before any audio.
    void aHostThatDoesNotDescribeItsStreamIsClosed_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("closeCode");
        QTest::newRow("not JSON") << "{not json" << 1000;
        QTest::newRow("over 64 KiB")
            << QString(R"({"message":"hostInfo","sampleRate":48000,"frameSize":256,"pad":"%1"})")
                   .arg(QString(65536, 'x'))
            << 1009;
    }
    void aHostThatDoesNotDescribeItsStreamIsClosed() {
        Scenario s;
        QFETCH(QString, reply);
        s.host.reply = reply;
        s.pressConnect();
        QTRY_VERIFY(!s.host.closeCodes.isEmpty());
        QTEST(s.host.closeCodes.first(), "closeCode");
        QTRY_COMPARE(s.state(), State::Reconnecting);
    }

    // Low ticks are counted over a stream, not only in a row, and afresh on the next stream.
    void aSilentLinkIsGivenUpAtItsFifthLowTick() {
        Scenario s;
        QVERIFY(s.connectAndStream());
        for (int tick = 0; tick < 4; ++tick)
            s.fire("statusTimer");
        s.host.clients.first()->close();
        QTRY_VERIFY(s.timer("reconnectTimer")->isActive());
        s.fire("reconnectTimer");
        QTRY_COMPARE(s.state(), State::Streaming);
        const QByteArray datagram = numberedFrames(s.host.frameSize);
        QVERIFY(s.awaitListening(datagram));
        for (int tick = 0; tick < 3; ++tick)
            s.fire("statusTimer");
        // 208 KBit/s over a window is not low, 120 over the next is (KBit = bytes received / 256).
        for (const int kbit : {208, 120}) {
            QVERIFY(s.streamDatagrams(datagram, 256 * kbit / datagram.size()));
            s.fire("statusTimer");
            QCOMPARE(s.state(), State::Streaming);
        }
        s.fire("statusTimer");
        QTRY_COMPARE(s.boxes.texts, QStringList{"Lost connection with Rig"});
        QCOMPARE(s.state(), State::GivenUp);
        QTRY_COMPARE(s.host.received.last(), QString("stopOutput"));
    }

    void aPongAnswersThePingAndAMissingOneEndsTheLink() {
        Scenario s;
        QVERIFY(s.connectAndStream());
        s.fire("pingTimer");
        QVERIFY(s.timer("pongTimer")->isActive());
        QCOMPARE(s.timer("pongTimer")->interval(), 5000);
        QTRY_VERIFY(!s.timer("pongTimer")->isActive());
        QCOMPARE(s.state(), State::Streaming);
        s.fire("pingTimer");
        s.fire("pongTimer");
        QCOMPARE(s.state(), State::Reconnecting);
    }

    void aTakenUdpPortIsShownAndAudioStillGoesOut() {
        Scenario s;
        QUdpSocket squatter;
        const quint16 port = QSettings().value("inUDPPort").toUInt();
        QVERIFY(squatter.bind(QHostAddress::AnyIPv4, port));
        QVERIFY(s.connectAndStream());
        auto* warning = s.window->findChild<QLabel*>("udpPortWarning");
        QTRY_VERIFY(warning->isVisible());
        QCOMPARE(warning->text(), QString("UDP port %1 unavailable: no audio received").arg(port));
        // The panel's audio still reaches the rig from another port.
        QTRY_VERIFY(!s.host.receivedAudio().isEmpty());
    }

    // The end of a session (a logout, a termination signal) quits once "stopOutput" and the close
    // have gone out; closing the window asks first.
    void closingWhileConnectedGoesToTheTrayAndQuittingAsksFirst() {
        Scenario s;
        QVERIFY(s.connectAndStream());
        s.window->close();
        QVERIFY(!s.window->isVisible());
        s.window->close();
        QTRY_COMPARE(s.boxes.texts, QStringList{"Please, disconnect from the remote RIG"});
        QVERIFY(s.window->isVisible());
        bool closedAtQuit = false;
        QObject scope;
        connect(qApp, &QCoreApplication::aboutToQuit, &scope,
                [&] { closedAtQuit = !s.link()->controlChannelOpen(); });
        QTimer::singleShot(0, s.window.get(), &MainWindow::endSession);
        QApplication::exec();
        QVERIFY(closedAtQuit);
        QVERIFY(s.window->close());
        QCOMPARE(s.boxes.texts.last(), QString("Do you want to quit?"));
    }
};

QTEST_MAIN(Scenarios)
#include "tst_scenarios.moc"
