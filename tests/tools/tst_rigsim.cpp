// SPDX-License-Identifier: GPL-3.0-or-later

#include "faultschedule.h"
#include "pacing.h"
#include "rigsimoptions.h"
#include "rigsimprotocol.h"
#include "timingmarks.h"
#include "wavfile.h"

#include <QtEndian>
#include <QtTest>

namespace {

QByteArray pcm(std::initializer_list<qint16> samples) {
    QByteArray out(static_cast<int>(2 * samples.size()), Qt::Uninitialized);
    qToLittleEndian<qint16>(samples.begin(), static_cast<qsizetype>(samples.size()), out.data());
    return out;
}

QString samplesOf(const QByteArray& pcm) {
    QStringList samples;
    for (int at = 0; at + 1 < pcm.size(); at += 2)
        samples << QString::number(qFromLittleEndian<qint16>(pcm.constData() + at));
    return samples.join(' ');
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
    void headerIsTheCanonicalOne() {
        QCOMPARE(wavHeader(8000, 1, 4).toHex(' '), kMonoHeader.toHex(' '));
    }

    // A file streamed to the panel: its samples as stereo frames, or why it cannot be streamed.
    void readsWhatItCanStream_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("outcome");
        const QByteArray list = "LIST" + QByteArray::fromHex("03000000") + "abc" + '\0';
        QTest::newRow("mono, on both channels") << kMonoHeader + pcm({7, -7}) << "7 7 -7 -7";
        QTest::newRow("stereo, as it is") << wavHeader(44100, 2, 4) + pcm({1, 2}) << "1 2";
        QTest::newRow("unknown chunk of odd size skipped")
            << kMonoHeader.left(36) + list + kMonoHeader.mid(36) + pcm({5, 6}) << "5 5 6 6";
        QTest::newRow("truncated: the whole frames there are")
            << wavHeader(8000, 2, 100) + pcm({1, 2, 3}) << "1 2";
        QTest::newRow("not RIFF") << QByteArray("hello, not audio") << "not a RIFF/WAVE file";
        QTest::newRow("float") << QByteArray(kMonoHeader).replace(20, 1, "\x03")
                               << "only 16-bit PCM is supported";
        QTest::newRow("8 bit") << QByteArray(kMonoHeader).replace(34, 1, "\x08")
                               << "only 16-bit PCM is supported";
        QTest::newRow("6 channels")
            << QByteArray(kMonoHeader).replace(22, 1, "\x06") << "only mono or stereo is supported";
        QTest::newRow("no data") << kMonoHeader.left(36) << "no audio data";
        QTest::newRow("data before format")
            << kMonoHeader.left(12) + kMonoHeader.mid(36) << "data chunk before format chunk";
    }
    void readsWhatItCanStream() {
        QFETCH(QByteArray, file);
        QString error;
        const std::optional<WavAudio> audio = parseWav(file, &error);
        QTEST(audio ? samplesOf(toStereo(*audio)) : error, "outcome");
    }

    // Only a port number in "localInfo" is a port to stream to (-1: none).
    void panelPorts_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("parsed");
        QTest::newRow("a port") << "4591" << 4591;
        QTest::newRow("zero") << "0" << -1;
        QTest::newRow("too big") << "65536" << -1;
        QTest::newRow("fraction") << "4591.5" << -1;
    }
    void panelPorts() {
        QFETCH(QString, port);
        const QString text = R"({"message":"localInfo","localPort":)" + port + "}";
        QTEST(parsePanelMessage(text).localPort, "parsed");
    }

    // The clock and network switches as the streamer gets them, or why they are refused.
    void options_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("defaults") << ""
                                  << "ppm 0 jitter 0 for -1 loss 0 seed 1 marks 0";
        QTest::newRow("every switch")
            << "--clock-ppm -1000.5 --jitter 50 --jitter-for 60 --loss 1.5 --seed 7 --marks"
            << "ppm -1000.5 jitter 50 for 60 loss 1.5 seed 7 marks 1";
        QTest::newRow("ppm not a number")
            << "--clock-ppm fast"
            << "--clock-ppm wants a number from -100000 to 100000, not \"fast\"";
        QTest::newRow("loss over 100 %") << "--loss 101"
                                         << "--loss wants a number from 0 to 100, not \"101\"";
        QTest::newRow("negative jitter")
            << "--jitter -5"
            << "--jitter wants a whole number from 0 to 1000, not \"-5\"";
        QTest::newRow("negative seed") << "--seed -1"
                                       << "--seed wants a whole number from 0, not \"-1\"";
        QTest::newRow("burst without jitter") << "--jitter-for 60"
                                              << "--jitter-for needs --jitter";
    }
    void options() {
        QFETCH(QString, arguments);
        const ParsedOptions parsed = parseRigSimOptions(QStringList{"umx-rigsim"} +
                                                        arguments.split(' ', Qt::SkipEmptyParts));
        const RigSimOptions& o = parsed.options;
        QTEST(parsed.outcome != OptionsOutcome::Run
                  ? parsed.text
                  : QStringLiteral("ppm %1 jitter %2 for %3 loss %4 seed %5 marks %6")
                        .arg(o.clockPpm)
                        .arg(o.network.jitterMs)
                        .arg(o.network.jitterForS)
                        .arg(o.network.lossPercent)
                        .arg(o.network.seed)
                        .arg(o.marks),
              "outcome");
    }

    // When datagram k of 480 frames is due on the host's clock: exactly, however fast or slow it
    // runs.
    void pacing_data() {
        QTest::addColumn<double>("ppm");
        QTest::addColumn<qint64>("k");
        QTest::addColumn<qint64>("ns");
        QTest::newRow("nominal, the fourth") << 0.0 << qint64(3) << qint64(30000000);
        QTest::newRow("fast clock: a second's frames early")
            << 1000.0 << qint64(100) << qint64(999000999);
        QTest::newRow("slow clock: late") << -1000.0 << qint64(100) << qint64(1001001001);
        QTest::newRow("half a ppm") << 0.5 << qint64(100) << qint64(999999500);
        QTest::newRow("a day, no overflow")
            << 100.0 << qint64(100) * 86400 << qint64(86391360863913);
    }
    void pacing() {
        QFETCH(double, ppm);
        QFETCH(qint64, k);
        QTEST(PacingSchedule(48000, 480, ppm).dueNs(k), "ns");
    }

    // 10000 datagrams at 93.75 per second through the network's faults: the share lost, the
    // delays within 0..jitter and in order, calm after a burst, and the same faults from a seed.
    void faults_data() {
        QTest::addColumn<NetworkFaults>("faults");
        QTest::addColumn<double>("lostPercent");
        QTest::addColumn<int>("calmAfterS"); // no delay from then on (-1: delays to the end)
        QTest::newRow("clean network") << NetworkFaults{} << 0.0 << 0;
        QTest::newRow("50 ms of jitter") << NetworkFaults{50, -1, 0.0, 3} << 0.0 << -1;
        QTest::newRow("a 20 s burst that stops") << NetworkFaults{50, 20, 0.0, 3} << 0.0 << 20;
        QTest::newRow("1 % loss") << NetworkFaults{0, -1, 1.0, 3} << 1.0 << 0;
        QTest::newRow("loss under jitter") << NetworkFaults{20, -1, 5.0, 9} << 5.0 << -1;
    }
    void faults() {
        QFETCH(NetworkFaults, faults);
        QFETCH(double, lostPercent);
        QFETCH(int, calmAfterS);
        const PacingSchedule schedule(48000, 512);
        // When each datagram leaves, -1 for a lost one.
        const auto run = [&](quint64 seed) {
            NetworkFaults seeded = faults;
            seeded.seed = seed;
            FaultSchedule network(seeded);
            QVector<qint64> sent;
            for (qint64 k = 0; k < 10000; ++k) {
                const FaultSchedule::Decision d = network.next(schedule.dueNs(k));
                sent << (d.dropped ? -1 : d.sendNs);
            }
            return sent;
        };
        const QVector<qint64> sent = run(faults.seed);
        const qint64 jitterNs = faults.jitterMs * 1000000LL;
        qint64 lastSent = 0;
        qint64 largestDelay = 0;
        for (qint64 k = 0; k < sent.size(); ++k) {
            if (sent[k] < 0)
                continue;
            const qint64 delay = sent[k] - schedule.dueNs(k);
            // Never early, never later than the jitter allows, never ahead of the one before.
            QVERIFY2(delay >= 0 && delay <= jitterNs && sent[k] >= lastSent,
                     qPrintable(QString::number(k)));
            lastSent = sent[k];
            if (calmAfterS >= 0 && schedule.dueNs(k) >= calmAfterS * 1000000000LL + jitterNs)
                QCOMPARE(delay, 0);
            else
                largestDelay = std::max(largestDelay, delay);
        }
        // 10000 draws: three standard deviations of the lost count, and delays up to the bound.
        const double expected = lostPercent * 100;
        QVERIFY2(std::abs(sent.count(-1) - expected) <= 3 * std::sqrt(expected) + 0.5,
                 qPrintable(QString::number(sent.count(-1))));
        QVERIFY(largestDelay >= faults.jitterMs * 900000LL);
        QCOMPARE(run(faults.seed), sent);
        QCOMPARE(run(faults.seed + 1) != sent, faults.jitterMs > 0 || faults.lossPercent > 0);
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
        QCOMPARE(sample(48000, 1), qint16(16384));
        QCOMPARE(sample(48000 - 1, 1), qint16(0));
        QVERIFY(std::abs(sample(48000 + 479, 1)) > 1000); // the burst's last sample
        QCOMPARE(sample(48000 + 480, 1), qint16(0));
    }
};

QTEST_APPLESS_MAIN(TestRigSim)
#include "tst_rigsim.moc"
