// SPDX-License-Identifier: GPL-3.0-or-later
// Whole flows of the panel, each from the operator's connect to its end: what the host received,
// what the sound card played and what the window shows.
#include "hssmeterwidget.h"
#include "scenario.h"
#include "statusline.h"

#include <QLabel>
#include <QToolButton>

namespace {

// Stereo frames whose left and right samples are both numbered: left n, right 1000 + n.
QByteArray numberedFrames(int frames) {
    QVector<qint16> samples;
    for (int n = 0; n < frames; ++n)
        samples << qint16(n) << qint16(1000 + n);
    return QByteArray(reinterpret_cast<const char*>(samples.constData()), samples.size() * 2);
}

using State = HSRigLink::State;

} // namespace

class Scenarios : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // The rig's audio is played at twice the host's rate, each channel in its place, and lifts the
    // meters; both ways are counted on the status line. Switched on and off while connected, the
    // speaker's stream opens and closes alone: the cable's and the capture's streams stay as they
    // were and the cable never runs short. The speaker joins the stream at once (within a tenth of
    // a second of its opening), with the chosen receiver on both sides.
    void audioFlowsAndTheSpeakerComesAndGoesAlone() {
        Scenario s(
            {}, [](QSettings& store) { store.setValue("audioOutMode", int(ReceiverMode::RX1)); });
        s.card.idleClock = false; // its clock moves on only with the host's datagrams
        QVERIFY(s.connectAndStream());
        QCOMPARE(s.card.format().sampleRate, 96000); // the host's 48000, doubled
        const QByteArray datagram = numberedFrames(s.host.frameSize);

        // Resampled to twice the host's rate, each channel in its place: right - left is 1000.
        QVERIFY(QTest::qWaitFor([&] {
            s.host.sendAudio(datagram);
            const int inPlace =
                framesWhere(s.card.played(), [](int l, int r) { return r - l == 1000; });
            return inPlace > s.host.frameSize;
        }));
        // The left channel's small numbers lift the L meter's bars a little above M's, which
        // show silence, and the right's lift R's more (the top half of a meter is its bars).
        const QList<HSSMeterWidget*> meters = s.window->findChildren<HSSMeterWidget*>(); // L R M
        auto bars = [&](int i) {
            return meters[i]->grab(QRect(0, 0, 500, 40)).toImage();
        };
        QTRY_VERIFY(bars(0) != bars(2) && bars(0) != bars(1));
        // A tick while hidden to the tray is on the status line once the window shows again.
        s.window->hide();
        s.fire("statusTimer");
        s.window->show();
        QVERIFY(s.status().contains(
            QRegularExpression(R"(^Speed: [1-9]\d*/[1-9]\d* KBit\|Latency: )")));

        // How soon the speaker plays is read in the frames it played, on the card's clock: the
        // datagrams still on their way at the switch, and how often the test looks, play no part.
        auto* speaker = s.window->findChild<QToolButton*>("tbAudio");
        const auto rx1 = [](int l, int r) {
            return l > 900 && l == r;
        };
        for (int round = 1; round <= 3; ++round) {
            speaker->setChecked(true);
            const int heard = s.card.speakerPlayed().size();
            int joined = -1;
            QVERIFY(QTest::qWaitFor([&] {
                s.host.sendAudio(datagram);
                joined = firstFrameWhere(s.card.speakerPlayed().mid(heard), rx1);
                return joined >= 0;
            }));
            QVERIFY2(joined < s.card.format().sampleRate / 10, qPrintable(QString::number(joined)));
            speaker->setChecked(false);
            QVERIFY(s.stream(datagram, 8));
            QCOMPARE(s.card.speakerOpened, round);
        }
        QCOMPARE(s.card.opened, 1);
        QCOMPARE(s.link.playoutStats().underruns, 0u);
    }

    // An answered ping keeps the link, a missing pong ends it and the window shows the
    // reconnection, the tray's connect entry still there to stop it. An attempt whose description
    // is beyond the 64 KiB a host message may have is closed before any audio, and the next one
    // is made. Low status ticks are counted over a stream, not only in a row, and afresh on the
    // next stream: its fifth gives the link up and the entry follows.
    void outagesAreRiddenOutAndASilentStreamGivenUp() {
        Scenario s;
        QVERIFY(s.connectAndStream());
        for (int tick = 0; tick < 4; ++tick)
            s.fire("statusTimer");
        s.fire("pingTimer");
        QCOMPARE(s.timer("pongTimer")->interval(), 5000);
        QVERIFY(s.timer("pongTimer")->isActive());
        QTRY_VERIFY(!s.timer("pongTimer")->isActive());
        QCOMPARE(s.state(), State::Streaming);
        s.fire("pingTimer");
        s.fire("pongTimer");
        QCOMPARE(s.state(), State::Reconnecting);
        QCOMPARE(s.trayConnect(), "checked enabled");
        s.fire("statusTimer");
        QVERIFY(s.status().startsWith("Reconnecting in "));
        s.host.reply =
            QString(R"({"message":"hostInfo","sampleRate":48000,"frameSize":256,"pad":"%1"})")
                .arg(QString(65536, 'x'));
        s.fire("reconnectTimer");
        QTRY_COMPARE(s.host.closeCodes, (QList<int>{1000, 1009}));
        s.host.reply.clear();
        s.fire("reconnectTimer");
        QTRY_COMPARE(s.state(), State::Streaming);
        const QByteArray datagram = numberedFrames(s.host.frameSize);
        for (int tick = 0; tick < 3; ++tick)
            s.fire("statusTimer");
        // 208 KBit/s over a window is not low, 120 over the next is (KBit = bytes received / 256).
        for (const int kbit : {208, 120}) {
            QVERIFY(s.stream(datagram, 256 * kbit / datagram.size()));
            s.fire("statusTimer");
            QCOMPARE(s.state(), State::Streaming);
        }
        s.fire("statusTimer");
        QTRY_COMPARE(s.boxes, QStringList{"Lost connection with Rig"});
        QCOMPARE(s.trayConnect(), "unchecked enabled");
    }

    // Sound devices come and go while the link stays up, on a UDP port that another program has
    // taken, which is shown. A cable pulled out (its stream stops taking audio) is named in the
    // status line and the tray's tool tip, and found again on the retry timer. With no tray to go
    // to, closing the connected window then asks "Do you want to quit?" and ends the session as
    // Quit does: the panel ends its event loop, the host hears the close, and the sound card's
    // streams are closed.
    void soundDevicesComeAndGoAndClosingTheWindowEndsTheSession() {
        Scenario s;
        QUdpSocket squatter;
        const quint16 port = QSettings().value("inUDPPort").toUInt();
        QVERIFY(squatter.bind(QHostAddress::AnyIPv4, port));
        QVERIFY(s.connectAndStream());
        auto* warning = s.window->findChild<QLabel*>("udpPortWarning");
        QTRY_VERIFY(warning->isVisible());
        QCOMPARE(warning->text(), QString("UDP port %1 unavailable: no audio received").arg(port));
        s.card.present(CardDevice::Cable) = false;
        QTRY_COMPARE(s.status(), soundDeviceNoticeText(StandInSoundCard::kCable));
        QCOMPARE(s.window->findChild<QSystemTrayIcon*>()->toolTip(), s.status());
        s.card.present(CardDevice::Cable) = true;
        s.fire("deviceRetryTimer");
        QTRY_COMPARE(s.state(), State::Streaming);

        // A window hidden instead, or a session that never ends, leaves the loop to this guard.
        QObject guard;
        QTimer::singleShot(5000, &guard, [] { QApplication::exit(1); });
        QTimer::singleShot(0, s.window.get(), &QWidget::close);
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(s.boxes, QStringList{"Do you want to quit?"});
        QTRY_COMPARE(s.host.closeCodes, QList<int>{1000});
        QTRY_VERIFY(!s.card.running());
    }

    // A first connection that cannot be made is reported once, not retried, and leaves the
    // window usable; the tray's connect entry, held while the attempt lasts, follows.
    void aFirstConnectionThatCannotBeMadeIsReported_data() {
        QTest::addColumn<QString>("address"); // empty: the stand-in host's, which never answers
        QTest::newRow("nothing listens") << "127.0.0.1:1";
        QTest::newRow("never answers") << QString();
    }
    void aFirstConnectionThatCannotBeMadeIsReported() {
        QFETCH(QString, address);
        Scenario s(address);
        s.host.silent = address.isEmpty();
        s.pressConnect();
        if (s.host.silent) {
            QTRY_COMPARE(s.host.received, QStringList{"localInfo"});
            QCOMPARE(s.trayConnect(), "checked disabled");
            QVERIFY(s.fire("answerTimer"));
        }
        QTRY_COMPARE(s.boxes, QStringList{"Unable connect to remote Rig"});
        QVERIFY(!s.timer("reconnectTimer")->isActive() && s.window->isEnabled());
        QCOMPARE(s.trayConnect(), "unchecked enabled");
    }
};

QTEST_MAIN(Scenarios)
#include "tst_scenarios.moc"
