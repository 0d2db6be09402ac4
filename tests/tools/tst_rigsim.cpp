// SPDX-License-Identifier: GPL-3.0-or-later

#include "pacing.h"
#include "rigsimprotocol.h"
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

// The simulator's own rules: the WAV files it streams, the panel's port it streams to, its pacing.
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

    // Datagram k leaves k frame periods after the start: the first at once.
    void pacing() {
        const PacingSchedule schedule(48000, 480);
        QVERIFY(schedule.dueNs(0) == 0 && schedule.dueNs(3) == 30000000);
    }
};

QTEST_APPLESS_MAIN(TestRigSim)
#include "tst_rigsim.moc"
