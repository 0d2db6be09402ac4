// SPDX-License-Identifier: GPL-3.0-or-later

#include "faultschedule.h"
#include "pacing.h"
#include "rigsimoptions.h"
#include "rigsimprotocol.h"
#include "timingmarks.h"
#include "wavfile.h"

#include <QtTest>

namespace {

QByteArray pcm(std::initializer_list<qint16> samples) {
    QByteArray out(static_cast<int>(2 * samples.size()), Qt::Uninitialized);
    qToLittleEndian<qint16>(samples.begin(), static_cast<qsizetype>(samples.size()), out.data());
    return out;
}

// A 16-bit PCM file as other software writes it: 8000 Hz mono, 4 bytes of samples.
const QByteArray kMonoHeader =
    "RIFF" + QByteArray::fromHex("28000000") + "WAVEfmt " +
    QByteArray::fromHex("10000000 0100 0100 401f0000 803e0000 0200 1000") + "data" +
    QByteArray::fromHex("04000000");

} // namespace

Q_DECLARE_METATYPE(NetworkFaults)

// The simulator's own rules: the WAV files it streams, the panel's port it streams to, its
// command line, its pacing, the network faults it plays and the timing marks in its signal.
class TestRigSim : public QObject {
    Q_OBJECT

private slots:
    // A file streamed to the panel: its samples as stereo frames, or why it cannot be streamed.
    void readsWhatItCanStream_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("outcome");
        QTest::newRow("mono, on both channels")
            << kMonoHeader + pcm({7, -7}) << pcm({7, 7, -7, -7});
        QTest::newRow("stereo, as it is") << wavHeader(44100, 2, 4) + pcm({1, 2}) << pcm({1, 2});
        QTest::newRow("truncated: the whole frames there are")
            << wavHeader(8000, 2, 100) + pcm({1, 2, 3}) << pcm({1, 2});
        QTest::newRow("not RIFF") << QByteArray("hello") << QByteArray("not a RIFF/WAVE file");
        QTest::newRow("float") << QByteArray(kMonoHeader).replace(20, 1, "\x03")
                               << QByteArray("only 16-bit PCM is supported");
        QTest::newRow("no data") << kMonoHeader.left(36) << QByteArray("no audio data");
    }
    void readsWhatItCanStream() {
        QFETCH(QByteArray, file);
        QString error;
        const std::optional<WavAudio> audio = parseWav(file, &error);
        QTEST(audio ? toStereo(*audio) : error.toUtf8(), "outcome");
    }

    // Only a port number in "localInfo" is a port to stream to (-1: none).
    void panelPorts() {
        QStringList parsed;
        for (const char* port : {"4591", "0", "65536", "4591.5"}) {
            const QString text = R"({"message":"localInfo","localPort":)" + QString(port) + "}";
            parsed << QString::number(parsePanelMessage(text).localPort);
        }
        QCOMPARE(parsed.join(' '), "4591 -1 -1 -1");
    }

    // The clock and network switches as the streamer gets them, or why they are refused.
    void options_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("defaults") << ""
                                  << "ppm 0 jitter 0 tail 0 for -1 loss 0 seed 1 marks 0 stall 0/0";
        QTest::newRow("every switch") << "--clock-ppm -1000.5 --jitter 50 --jitter-for 60 --loss "
                                         "1.5 --seed 7 --marks --stall-every 20 --stall-for 300"
                                      << "ppm -1000.5 jitter 50 tail 0 for 60 loss 1.5 seed 7 "
                                         "marks 1 stall 20/300";
        QTest::newRow("a heavy tail for a minute") << "--jitter-tail 4.5 --jitter-for 60"
                                                   << "ppm 0 jitter 0 tail 4.5 for 60 loss 0 "
                                                      "seed 1 marks 0 stall 0/0";
        QTest::newRow("both kinds of jitter") << "--jitter 20 --jitter-tail 4"
                                              << "--jitter and --jitter-tail exclude each other";
        QTest::newRow("ppm not a number")
            << "--clock-ppm fast"
            << "--clock-ppm wants a number from -100000 to 100000, not \"fast\"";
        QTest::newRow("burst without jitter") << "--jitter-for 60"
                                              << "--jitter-for needs --jitter or --jitter-tail";
        QTest::newRow("a stall of no length") << "--stall-every 20"
                                              << "--stall-every and --stall-for go together";
        QTest::newRow("a stall as long as its period")
            << "--stall-every 1 --stall-for 1000"
            << "--stall-for must be shorter than --stall-every";
    }
    void options() {
        QFETCH(QString, arguments);
        const ParsedOptions parsed = parseRigSimOptions(QStringList{"umx-rigsim"} +
                                                        arguments.split(' ', Qt::SkipEmptyParts));
        const RigSimOptions& o = parsed.options;
        const QString run = QString::asprintf(
            "ppm %g jitter %d tail %g for %d loss %g seed %llu marks %d stall %d/%d", o.clockPpm,
            o.network.jitterMs, o.network.tailMeanMs, o.network.jitterForS, o.network.lossPercent,
            o.network.seed, o.marks, o.network.stallEveryS, o.network.stallForMs);
        QTEST(parsed.outcome == OptionsOutcome::Run ? run : parsed.text, "outcome");
    }

    // When datagram k of 480 frames is due on the host's clock: exactly, however fast or slow it
    // runs (a fast clock sends a second's frames early). Held up 300 ms at 10 s, past the 250 ms
    // a stall may last, the stream goes on from there; held up 200 ms, it catches up.
    void pacing() {
        QCOMPARE(PacingSchedule(48000, 480, 0).dueNs(3), qint64(30000000));
        QCOMPARE(PacingSchedule(48000, 480, 1000).dueNs(100), qint64(999000999));
        const qint64 ms = 1000000;
        QCOMPARE(PacingSchedule::startAfter(5 * ms, 10000 * ms, 10305 * ms, 250 * ms), 305 * ms);
        QCOMPARE(PacingSchedule::startAfter(5 * ms, 10000 * ms, 10205 * ms, 250 * ms), 5 * ms);
    }

    // 10000 datagrams at 93.75 per second through the network's faults: the share lost, the
    // delays within 0..jitter (or a second for a heavy tail) and in order, none after a burst, up
    // to the bound (for a heavy tail, 4 % of them beyond three times its mean, where a uniform
    // jitter of twice that mean has none), and the same faults from a seed. A stall holds what
    // falls due in it until its end and lets all of it go then, nothing lost, nothing else held.
    void faults_data() {
        QTest::addColumn<NetworkFaults>("faults");
        QTest::newRow("50 ms of jitter for 20 s") << NetworkFaults{50, 20, 0.0, 3};
        QTest::newRow("loss under jitter") << NetworkFaults{20, -1, 5.0, 9};
        QTest::newRow("a heavy tail, 4 ms on average") << NetworkFaults{0, -1, 1.0, 5, 4.0};
        QTest::newRow("stalls of 300 ms every 2 s") << NetworkFaults{0, -1, 0.0, 2, 0.0, 2, 300};
    }
    void faults() {
        QFETCH(NetworkFaults, faults);
        const PacingSchedule schedule(48000, 512);
        // When each datagram leaves, -1 for a lost one; the stalls begun.
        QList<qint64> stalls;
        const auto run = [&](quint64 seed) {
            NetworkFaults seeded = faults;
            seeded.seed = seed;
            FaultSchedule network(seeded);
            QVector<qint64> sent;
            stalls.clear();
            for (qint64 k = 0; k < 10000; ++k) {
                const FaultSchedule::Decision d = network.next(schedule.dueNs(k));
                sent << (d.dropped ? -1 : d.sendNs);
                if (d.stallFromNs >= 0 && !stalls.contains(d.stallFromNs))
                    stalls << d.stallFromNs;
            }
            return sent;
        };
        const QVector<qint64> sent = run(faults.seed);
        const qint64 jitterNs = faults.tailMeanMs > 0 ? 1000000000LL : faults.jitterMs * 1000000LL;
        const qint64 calmNs = faults.jitterForS * 1000000000LL + jitterNs;
        qint64 lastSent = 0, largestDelay = 0;
        int beyondThreeMeans = 0;
        const qint64 everyNs = faults.stallEveryS * 1000000000LL,
                     stallNs = faults.stallForMs * 1000000LL;
        QList<qint64> stallsDue;
        for (qint64 k = 0; k < sent.size(); ++k) {
            const qint64 due = schedule.dueNs(k), stallFrom = everyNs ? due / everyNs * everyNs : 0;
            const bool stalled = stallFrom > 0 && due - stallFrom < stallNs;
            if (stalled && !stallsDue.contains(stallFrom))
                stallsDue << stallFrom;
            if (sent[k] < 0)
                continue;
            const qint64 delay = sent[k] - (stalled ? stallFrom + stallNs : due);
            // Never early, never later than the jitter allows, never ahead of the one before.
            QVERIFY2(delay >= 0 && delay <= jitterNs && sent[k] >= lastSent,
                     qPrintable(QString::number(k)));
            lastSent = sent[k];
            if (faults.jitterForS >= 0 && schedule.dueNs(k) >= calmNs)
                QCOMPARE(delay, 0);
            else
                largestDelay = std::max(largestDelay, delay);
            beyondThreeMeans += delay > 3 * faults.tailMeanMs * 1e6 ? 1 : 0;
        }
        // 10000 draws: three standard deviations of the lost count, and delays up to the bound.
        const double expected = faults.lossPercent * 100;
        QVERIFY2(std::abs(sent.count(-1) - expected) <= 3 * std::sqrt(expected) + 0.5,
                 qPrintable(QString::number(sent.count(-1))));
        if (faults.tailMeanMs > 0)
            QVERIFY2(beyondThreeMeans >= 0.04 * sent.size(),
                     qPrintable(QString::number(beyondThreeMeans)));
        else
            QVERIFY(largestDelay >= faults.jitterMs * 900000LL);
        QCOMPARE(stalls, stallsDue);
        QCOMPARE(run(faults.seed), sent);
        if (faults.lossPercent > 0 || jitterNs > 0)
            QVERIFY(run(faults.seed + 1) != sent);
    }

    // Marks start at the peak of a burst at every whole second, silence between; left untouched.
    void marks() {
        const TimingMarks marks(48000);
        QByteArray stream;
        QList<qint64> begun;
        for (qint64 first = 0; first < 48000 * 2 + 512; first += 512) {
            QByteArray block(512 * 4, '\x11');
            if (const qint64 mark = marks.apply(&block, first); mark >= 0)
                begun << mark << first;
            stream += block;
        }
        QCOMPARE(begun, (QList<qint64>{0, 0, 1, 47616, 2, 95744}));
        const auto sample = [&](qint64 frame, int channel) {
            return qFromLittleEndian<qint16>(stream.constData() + 4 * frame + 2 * channel);
        };
        for (qint64 frame = 0; frame < stream.size() / 4; ++frame)
            QCOMPARE(sample(frame, 0), qint16(0x1111));
        // Silence before the second, its peak at it, and silence after the burst's 480 frames.
        QCOMPARE(
            (QList<qint16>{sample(47999, 1), sample(48000, 1), sample(48479, 1), sample(48480, 1)}),
            (QList<qint16>{0, 16384, 15825, 0}));
    }
};

QTEST_APPLESS_MAIN(TestRigSim)
#include "tst_rigsim.moc"
