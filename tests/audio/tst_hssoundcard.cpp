// SPDX-License-Identifier: GPL-3.0-or-later
// The sound card's own rules, through the stand-in card: metering, partial frames, the buffers a
// host's description asks for, the device list read again, and devices that come and go; and the
// audio thread's priority.

#include "audioplatform.h"
#include "standinsoundcard.h"

#include <QtTest>

#if defined(Q_OS_LINUX)
#include <pthread.h>
#endif

using Samples = QVector<qint16>;
Q_DECLARE_METATYPE(StreamFormat)
Q_DECLARE_METATYPE(CardDevice)

class TestHSSoundCard : public QObject {
    Q_OBJECT

private slots:
    // From -30 dB: the playback meter smooths the RMS levels of the left and right samples of one
    // write (left first: silence, which reads -250.31 dB, falling by half; full scale rising by
    // 70 %); the capture meter the samples before the 2:1 reduction (every other pair full scale,
    // -3.01 dB), which here keeps only silent ones, and hands that block over to the worker.
    void soundCardMetersItsBlocks() {
        StandInSoundCard card;
        QVERIFY(card.startOnItsDevices({streamFormatForHost(48000, 128), {}}));
        card.StreamOut(QByteArray::fromHex("0000ff7f").repeated(256));
        card.pushCapture(Samples{0, 0, 32767, 32767, 0, 0, 32767, 32767});
        QStringList readings;
        for (float level :
             {card.playbackMeter()->valueLeft.load(), card.playbackMeter()->valueRight.load(),
              card.captureMeter()->value.load()})
            readings << QString::number(level, 'f', 1);
        QCOMPARE(readings, QStringList({"-140.2", "-9.0", "-11.1"}));
        QCOMPARE(card.latestCapturedData(), QByteArray(8, '\0'));
    }

    // A datagram whose length is not a whole number of frames: its whole frames are played in
    // their place, the odd bytes are dropped, and the next datagram follows it with its channels
    // where they were (the left a steady 1000, the right counting the host's frames).
    void aDatagramWithAPartialFrame() {
        StandInSoundCard card;
        QVERIFY(card.startOnItsDevices({streamFormatForHost(48000, 128), {}}));
        for (int d = 0, n = 0; d < 400; ++d) {
            Samples frames;
            for (int i = 0; i < 128; ++i, ++n)
                frames << 1000 << qint16(n % 20000);
            QByteArray datagram(reinterpret_cast<const char*>(frames.constData()), 512);
            card.StreamOut(d == 300 ? datagram + "\x7f\x7f" : datagram);
        }
        const QByteArray played = card.played();
        const auto* samples = reinterpret_cast<const qint16*>(played.constData());
        int steps = 0;
        // From the middle of what was played (well after the audio started), until the datagrams
        // end; the resampler rings within a few percent.
        for (int i = played.size() / 8 * 2; i < played.size() / 2 && samples[i] != 0; i += 2) {
            QVERIFY2(std::abs(samples[i] - 1000) <= 50, qPrintable(QString::number(samples[i])));
            steps += samples[i + 1] == samples[i - 1] + 1 ? 1 : 0;
        }
        QVERIFY2(steps > 15000, qPrintable(QString::number(steps)));
    }

    // A datagram lost once the stream runs steady: with "Conceal lost audio" on, the steady left
    // channel goes on through its place; off, its place is silent.
    void aLostDatagram_data() {
        QTest::addColumn<bool>("conceal");
        QTest::addColumn<bool>("silentGap");
        QTest::newRow("concealed") << true << false;
        QTest::newRow("silent") << false << true;
    }
    void aLostDatagram() {
        QFETCH(bool, conceal);
        CardSettings settings;
        settings.concealLostAudio = conceal;
        StandInSoundCard card;
        card.idleClock = false;
        QVERIFY(card.startOnItsDevices({streamFormatForHost(48000, 512), settings}));
        const QByteArray datagram = QByteArray::fromHex("e8030000").repeated(512);
        for (int d = 0; d < 1500; ++d)
            d == 1000 ? card.loseDatagram(512) : card.StreamOut(datagram);
        // The longest run of silence in the left channel once the audio started.
        const QByteArray played = card.played();
        const auto* samples = reinterpret_cast<const qint16*>(played.constData());
        int longest = 0;
        for (int i = 0, run = 0, sounded = 0; i < played.size() / 2; i += 2) {
            sounded |= std::abs(samples[i] - 1000) < 50;
            run = sounded && std::abs(samples[i]) < 50 ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        // Silent: nearly the datagram's 1024 frames at the stream's rate (less the crossfades).
        QTEST(longest > 900, "silentGap");
    }

    // A host's description sizes the card's buffers: one beyond the bounds is refused, as is one
    // with no rate.
    void cardBuffers_data() {
        QTest::addColumn<StreamFormat>("format");
        QTest::addColumn<int>("multiplier"); // of both buffers
        QTest::addColumn<bool>("accepted");
        QTest::newRow("largest capture buffer") << StreamFormat{96000, 8, 65536} << 1 << true;
        QTest::newRow("capture buffer over") << StreamFormat{96000, 8, 32769} << 2 << false;
        QTest::newRow("largest playback buffer") << StreamFormat{96000, 65536, 8} << 8 << true;
        QTest::newRow("playback block over") << StreamFormat{96000, 65537, 8} << 1 << false;
        QTest::newRow("no rate") << StreamFormat{0, 2048, 2048} << 1 << false;
    }
    void cardBuffers() {
        QFETCH(StreamFormat, format);
        QFETCH(int, multiplier);
        CardSettings buffers;
        buffers.frameOutMult = buffers.frameInMult = multiplier;
        StandInSoundCard card;
        QTEST(card.startOnItsDevices({format, buffers}), "accepted");
    }

    // A device named in the settings that is missing at the start, or pulled out while it plays,
    // is named as missing (once) while the others play on without a gap; looked for while still
    // out, it stays missing; plugged in and looked for, it plays again (the capture under the index
    // it has now), and so do the others; a listed speaker is opened under its index in the list
    // (where a device cannot be opened by its name, that is the only way). The sound system is
    // restarted to read its device list again (so that a device plugged in since is listed) while
    // no stream is open, but never under open streams, and not for the first list, which it has
    // just read.
    void devicesComeAndGo_data() {
        QTest::addColumn<CardDevice>("device");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("atStart");
        for (const auto& [device, name] : {std::pair{CardDevice::Cable, StandInSoundCard::kCable},
                                           {CardDevice::Speaker, StandInSoundCard::kSpeaker},
                                           {CardDevice::Capture, StandInSoundCard::kCapture}}) {
            QTest::addRow("%s missing at the start", qPrintable(name)) << device << name << true;
            QTest::addRow("%s pulled out", qPrintable(name)) << device << name << false;
        }
    }
    void devicesComeAndGo() {
        QFETCH(CardDevice, device);
        QFETCH(QString, name);
        QFETCH(bool, atStart);
        StandInSoundCard card;
        card.idleClock = false;
        card.EnumerateAudioDevices(); // the first list
        card.present(device) = !atStart;
        card.EnumerateAudioDevices();
        QVERIFY(card.startOnItsDevices({streamFormatForHost(48000, 128), {}}));
        card.setSpeakerOn(true);
        // A third of a second of audio a look; the device missing as the card reported it last.
        QString reported;
        const auto missingAfterPlaying = [&](const QString& missing) {
            return QTest::qWaitFor([&] {
                for (int i = 0; i < 128; ++i)
                    card.StreamOut(QByteArray::fromHex("e803e803").repeated(128)); // a steady 1000
                reported = card.deviceChange().value_or(reported);
                return reported == missing;
            });
        };
        QVERIFY(missingAfterPlaying(atStart ? name : QString()));
        const int cableAt = card.played().size(), speakerAt = card.speakerPlayed().size();
        card.present(device) = false;
        QVERIFY(missingAfterPlaying(name));
        card.lookForMissingDevices();
        QVERIFY(missingAfterPlaying(name));
        QVERIFY(!card.deviceChange()); // named once
        card.captureIndex = 3;
        card.present(device) = true;
        card.lookForMissingDevices();
        const int cableBack = card.played().size(), speakerBack = card.speakerPlayed().size();
        QVERIFY(missingAfterPlaying(QString()));
        if (device == CardDevice::Capture)
            QCOMPARE(card.openedCapture, 3);
        if (device != CardDevice::Speaker) // listed: opened under its own index
            QCOMPARE(card.speakerIndex, 2);
        const auto sound = [](int left, int) {
            return std::abs(left - 1000) < 50;
        };
        const auto silence = [](int left, int) {
            return left == 0;
        };
        QVERIFY(framesWhere(card.played().mid(cableBack), sound) > 0);
        QVERIFY(framesWhere(card.speakerPlayed().mid(speakerBack), sound) > 0);
        if (device != CardDevice::Cable)
            QCOMPARE(framesWhere(card.played().mid(cableAt), silence), 0);
        if (device != CardDevice::Speaker)
            QCOMPARE(framesWhere(card.speakerPlayed().mid(speakerAt), silence), 0);
        card.EnumerateAudioDevices();
        // And by the start, for a cable or capture missing then (the speaker is switched on later).
        QCOMPARE(card.restarts.load(), atStart && device != CardDevice::Speaker ? 2 : 1);
    }

    // A speaker's stream that a busy sound server links late, taking nothing for a second and a
    // half after it opens, is not taken for one that stopped working, and plays the audio once it
    // begins; one never linked is judged stopped.
    void aSpeakerLinkedLate_data() {
        QTest::addColumn<qint64>("linkedAfterMs");
        QTest::addColumn<bool>("stopped");
        QTest::newRow("linked 1.5 s late") << qint64(1500) << false;
        QTest::newRow("never linked") << qint64(60000) << true;
    }
    void aSpeakerLinkedLate() {
        QFETCH(qint64, linkedAfterMs);
        QFETCH(bool, stopped);
        StandInSoundCard card;
        card.idleClock = false;
        card.speakerLinkedAfterNs = linkedAfterMs * 1'000'000;
        QVERIFY(card.startOnItsDevices({streamFormatForHost(48000, 128), {}}));
        card.setSpeakerOn(true);
        bool reported = false;
        for (int i = 0; i < 4 * 48000 / 128; ++i) { // 4 s of the host's audio
            card.StreamOut(QByteArray::fromHex("e803e803").repeated(128));
            reported = reported || card.deviceChange() == StandInSoundCard::kSpeaker;
        }
        QCOMPARE(reported, stopped);
        if (!stopped)
            QVERIFY(framesWhere(card.speakerPlayed(),
                                [](int left, int) { return std::abs(left - 1000) < 50; }) > 0);
    }

    // The audio worker's thread runs ahead of ordinary threads, or says why it cannot; a thread it
    // starts (a device switch) inherits that and goes back to the ordinary priority.
    void audioThreadRunsAhead() {
#if defined(Q_OS_LINUX)
        auto policy = [] {
            int policy = -1;
            sched_param param{};
            pthread_getschedparam(pthread_self(), &policy, &param);
            return std::make_pair(policy, param.sched_priority);
        };
        QString why;
        std::pair<int, int> raised, inherited, lowered;
        std::unique_ptr<QThread> audio(QThread::create([&] {
            why = raiseAudioThreadPriority();
            raised = policy();
            std::unique_ptr<QThread> child(QThread::create([&] {
                inherited = policy();
                runAtOrdinaryPriority();
                lowered = policy();
            }));
            child->start();
            child->wait();
        }));
        audio->start();
        QVERIFY(audio->wait(5000));
        QCOMPARE(lowered, std::make_pair(int(SCHED_OTHER), 0));
        if (!why.isEmpty())
            QSKIP(qPrintable("real-time scheduling not granted here: " + why));
        QCOMPARE(raised.first, int(SCHED_FIFO));
        QVERIFY(raised.second > 0);
        QCOMPARE(inherited, raised);
#else
        QSKIP("the thread priorities are Qt's own here");
#endif
    }
};

QTEST_MAIN(TestHSSoundCard)
#include "tst_hssoundcard.moc"
