// SPDX-License-Identifier: GPL-3.0-or-later

// The parts that keep the rig's pitch while the latency moves: the splices that move it
// (RingReader over a PlayoutRing, with its Splicer), the fill of what never came (LossConcealer),
// the keeper that asks for splices (FillKeeper), the ratio that follows the clocks
// (DriftController) and the card's cycle length bounded by the looks (CycleBounds).

#include "breakdetector.h"
#include "cyclebounds.h"
#include "driftcontroller.h"
#include "fillkeeper.h"
#include "lossconcealer.h"
#include "playoutring.h"
#include "ringreader.h"

#include <QtTest>

#include <cmath>

namespace {

constexpr int kRate = 48000;
constexpr double kMs = kRate / 1000.0;

// A tone of `hz` on the left and `rightHz` on the right at -6 dBFS, frame `n` of it.
void toneFrame(qint16* frame, std::int64_t n, double hz, double rightHz) {
    frame[0] = qint16(std::lround(16384 * std::sin(2 * M_PI * hz * n / kRate)));
    frame[1] = qint16(std::lround(16384 * std::sin(2 * M_PI * rightHz * n / kRate)));
}

// The most a channel's second difference passes what its tone's own curvature makes: a seam's
// kink, or a step, which a click is.
double largestClick(const QVector<qint16>& stereo, double hz) {
    const double curvature = 16384 * std::pow(2 * M_PI * hz / kRate, 2);
    double most = 0;
    for (int i = 4; i < stereo.size(); ++i)
        most = std::max(most, std::abs(stereo[i] - 2 * stereo[i - 2] + stereo[i - 4]) - curvature);
    return most;
}

} // namespace

class TestPitchKeeping : public QObject {
    Q_OBJECT

private slots:
    // A stretch of a tone given back (dropped) or taken (repeated) as asked, as long as asked give
    // or take the 5 ms search, once the ring holds what the seam needs: the position moves by the
    // stretch, and the tone goes on across the seam without a click.
    void splices_data() {
        QTest::addColumn<double>("moveMs"); // positive: given back
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("rightHz");
        QTest::addColumn<double>("heldMs"); // audio in the ring when asked
        QTest::newRow("10 ms given back of a tone") << 10.3 << 1000.0 << 1000.0 << 200.0;
        QTest::newRow("10 ms taken of a tone") << -10.3 << 1000.0 << 1000.0 << 200.0;
        QTest::newRow("two tones, one a side") << 20.3 << 700.0 << 1930.0 << 200.0;
        QTest::newRow("more than one seam takes") << 300.0 << 700.0 << 700.0 << 600.0;
        QTest::newRow("waits for the ring to hold the seam") << 30.0 << 700.0 << 700.0 << 5.0;
    }
    void splices() {
        QFETCH(double, moveMs);
        QFETCH(double, hz);
        QFETCH(double, rightHz);
        QFETCH(double, heldMs);
        PlayoutRing ring;
        ring.reset(kRate, 0);
        RingReader reader;
        reader.reset(&ring, kRate, true);
        QVector<qint16> block(2 * 480), out;
        std::int64_t written = 0;
        auto write = [&](double ms) {
            for (const std::int64_t end = written + std::llround(ms * kMs); written < end;) {
                const int n = int(std::min<std::int64_t>(480, end - written));
                for (int i = 0; i < n; ++i)
                    toneFrame(&block[2 * i], written + i, hz, rightHz);
                ring.write(written, block.constData(), n);
                written += n;
            }
        };
        write(heldMs + 20);
        QVector<qint16> chunk(2 * 8);
        std::int64_t handed = 0;
        for (; handed < 20 * kMs; handed += 8) {
            reader.read(chunk.data(), 8);
            out += chunk;
        }
        reader.moveLatency(int(std::lround(moveMs * kMs)));
        for (int round = 0; round < 200 && (reader.moving() || ring.fill() > 0); ++round) {
            write(10);
            reader.splice();
            while (ring.fill() > 3600) {
                reader.read(chunk.data(), 8);
                out += chunk;
                handed += 8;
            }
        }
        QVERIFY(!reader.moving());
        const double movedMs = reader.takeMoved() / kMs;
        QVERIFY2(std::abs(movedMs - moveMs) <= 5.0 + 0.1, qPrintable(QString::number(movedMs)));
        QCOMPARE(reader.position(), handed + std::llround(movedMs * kMs));
        QVERIFY2(largestClick(out, std::max(hz, rightHz)) < 300,
                 qPrintable(QString::number(largestClick(out, std::max(hz, rightHz)))));
    }

    // Audio late for its place is waited for, up to the room the reads are given, so that it
    // follows the fill; but once a gap outlasts a fill (an outage), what was waited for is given
    // back, and the audio comes again at its own place in the stream.
    void waitsOrKeepsTheTimeline_data() {
        QTest::addColumn<double>("gapMs");
        QTest::addColumn<double>("behindMs"); // where the reads stand after it, against the stream
        QTest::newRow("a short gap, waited for") << 10.0 << 10.0;
        QTest::newRow("an outage") << 300.0 << 0.0;
    }
    void waitsOrKeepsTheTimeline() {
        QFETCH(double, gapMs);
        QFETCH(double, behindMs);
        PlayoutRing ring;
        ring.reset(kRate, 0);
        RingReader reader;
        reader.reset(&ring, kRate, true);
        QVector<qint16> tone(2 * kRate), chunk(2 * 8);
        for (int i = 0; i < kRate; ++i)
            toneFrame(&tone[2 * i], i, 1000, 1000);
        ring.write(0, tone.constData(), 4800);
        reader.waitRoom = int(20 * kMs);
        std::int64_t handed = 0;
        for (; handed < 4800 + std::llround(gapMs * kMs); handed += 8)
            reader.read(chunk.data(), 8);
        ring.write(4800, tone.constData() + 2 * 4800, 4800 + 19200);
        for (int i = 0; i < 100; ++i, handed += 8)
            reader.read(chunk.data(), 8);
        QCOMPARE(reader.position(), handed - std::llround(behindMs * kMs));
    }

    // What never came is filled with the tone continued in phase for 40 ms, faded out over the
    // next 10 ms, silent after; audio that comes again follows without a click, and the stream's
    // first audio fades in. Switched off, it stays silent.
    void conceals_data() {
        QTest::addColumn<double>("holeMs");
        QTest::addColumn<bool>("on");
        QTest::addColumn<double>("fullMs"); // the hole's start filled at the tone's level
        QTest::addColumn<double>("filledMs");
        QTest::addColumn<int>(
            "tones"); // on the left, 240 Hz apart from 300 Hz; 600 Hz on the right
        QTest::newRow("a datagram lost") << 10.7 << true << 10.7 << 10.7 << 1;
        QTest::newRow("a datagram of a band of tones lost") << 10.7 << true << 10.7 << 10.7 << 10;
        QTest::newRow("a long outage") << 300.0 << true << 40.0 << 50.0 << 1;
        QTest::newRow("switched off") << 10.7 << false << 0.0 << 0.0 << 1;
    }
    void conceals() {
        QFETCH(double, holeMs);
        QFETCH(bool, on);
        QFETCH(double, fullMs);
        QFETCH(double, filledMs);
        QFETCH(int, tones);
        LossConcealer concealer;
        concealer.reset(kRate, on);
        const int from = 24000, hole = int(std::lround(holeMs * kMs)), n = from + hole + 4800;
        const int filled = int(std::lround(filledMs * kMs));
        QVector<qint16> stream(2 * n);
        QVector<quint8> came(n, 1);
        for (int i = 0; i < n; ++i) {
            toneFrame(&stream[2 * i], i, 1000, 600);
            if (tones > 1) {
                double band = 0;
                for (int k = 0; k < tones; ++k)
                    band += std::sin(2 * M_PI * (300 + 240 * k) * i / kRate + k);
                stream[2 * i] = qint16(std::lround(1600 * band));
            }
        }
        const QVector<qint16> truth = stream;
        for (int i = from; i < from + hole; ++i) {
            stream[2 * i] = stream[2 * i + 1] = 0;
            came[i] = 0;
        }
        concealer.process(stream.data(), came.constData(), n);
        double error = 0, power = 0;
        for (int i = from; i < from + int(fullMs * kMs); ++i) {
            error += std::pow(stream[2 * i] - truth[2 * i], 2.0);
            power += std::pow(truth[2 * i], 2.0);
        }
        QVERIFY2(fullMs == 0 || 10 * std::log10(error / power) < -30,
                 qPrintable(QString::number(10 * std::log10(error / power))));
        int silent = 0;
        for (int i = from + filled; i < from + hole; ++i)
            silent += stream[2 * i] == 0 ? 1 : 0;
        QCOMPARE(silent, hole - filled);
        QVERIFY(std::abs(int(concealer.concealedFrames()) - filled) <= 2);
        QVERIFY2(!on || largestClick(stream, 1000) < 1500,
                 qPrintable(QString::number(largestClick(stream, 1000))));
        QVERIFY(!on || std::abs(stream[2]) + std::abs(stream[4]) < 200);
    }

    // Whether a datagram's audio breaks off what came before it: each channel with audio in it must
    // jump; a channel that carries on (while the other clicks, or is silent) says nothing was lost.
    // The predictor fitted to a datagram's worth (where a loss lies just before that) hears it as
    // well; one fitted to less than it takes says nothing.
    void hearsABreak_data() {
        QTest::addColumn<int>("tones"); // on the left, 0: silent
        QTest::addColumn<QString>("right");
        QTest::addColumn<bool>("lost"); // a datagram missing before the last one
        QTest::addColumn<int>("fit");   // frames before it, 0: the whole stretch
        QTest::addColumn<bool>("breaks");
        QTest::newRow("a datagram lost in a band of tones") << 10 << "tone" << true << 0 << true;
        QTest::newRow("whole audio") << 10 << "tone" << false << 0 << false;
        QTest::newRow("a step on the other channel only") << 1 << "step" << false << 0 << false;
        QTest::newRow("one channel silent, the other broken") << 1 << "silent" << true << 0 << true;
        QTest::newRow("silence") << 0 << "silent" << true << 0 << false;
        QTest::newRow("a band of tones lost, fitted to a datagram")
            << 10 << "tone" << true << 512 << true;
        QTest::newRow("a band of tones whole, fitted to a datagram")
            << 10 << "tone" << false << 512 << false;
        QTest::newRow("fitted to too little") << 10 << "tone" << true << 200 << false;
    }
    void hearsABreak() {
        QFETCH(int, tones);
        QFETCH(QString, right);
        QFETCH(bool, lost);
        QFETCH(int, fit);
        QFETCH(bool, breaks);
        constexpr int kDatagram = 512;
        BreakDetector seams;
        seams.reset(kDatagram);
        if (fit == 0)
            fit = seams.fitFrames();
        const int n = fit + kDatagram;
        QVector<qint16> audio(2 * n);
        for (int i = 0; i < n; ++i) {
            const bool after = i >= fit;
            const int at = i + (after && lost ? kDatagram : 0);
            double band = 0;
            for (int k = 0; k < tones; ++k)
                band += std::sin(2 * M_PI * (310 + 237 * k) * at / kRate + k);
            audio[2 * i] = qint16(std::lround(1600 * band));
            const double other = right == "tone"   ? 8000 * std::sin(2 * M_PI * 1900.0 * at / kRate)
                                 : right == "step" ? (after ? 8000 : -8000)
                                                   : 0;
            audio[2 * i + 1] = qint16(std::lround(other));
        }
        QCOMPARE(seams.breaks(audio.constData(), fit, kDatagram), breaks);
    }

    // The keeper asks for a splice where the fill's median over a second strays more than 4 ms
    // from its target, at once where it steps by 30 ms or more, and for the fill's error then,
    // not for a dip of a few cycles; while the target shrinks, once it holds.
    void keepsTheFill_data() {
        QTest::addColumn<QVector<double>>("fillMs"); // one a cycle of 10 ms
        QTest::addColumn<QVector<double>>("targetMs");
        QTest::addColumn<QString>("movesMs");
        QTest::newRow("within its scatter")
            << QVector<double>(100, 33.5) << QVector<double>{30} << "";
        QTest::newRow("a stall's excess, at once")
            << QVector<double>(10, 70.0) << QVector<double>{30} << "40";
        QTest::newRow("short of a grown target")
            << QVector<double>(100, 48.0) << QVector<double>{60} << "-12";
        QVector<double> dips(100, 30.0);
        for (int i = 10; i < 100; i += 20)
            dips[i] = dips[i + 1] = 19.3;
        QTest::newRow("a loss's dips") << dips << QVector<double>{30} << "";
        QVector<double> shrinking;
        for (int i = 0; i < 1300; ++i)
            shrinking << std::max(50.0, 70.0 - 0.02 * i);
        QTest::newRow("a target shrinking, given back once it holds")
            << QVector<double>(1300, 70.0) << shrinking << "20";
    }
    void keepsTheFill() {
        QFETCH(QVector<double>, fillMs);
        QFETCH(QVector<double>, targetMs);
        FillKeeper keeper;
        keeper.reset(kRate);
        double asked = 0;
        QStringList moves;
        for (int i = 0; i < fillMs.size(); ++i) {
            const double target = targetMs.value(i, targetMs.last());
            if (const int move =
                    keeper.update((fillMs[i] - asked - target) * kMs, target * kMs, 0.0101)) {
                asked += move / kMs;
                moves << QString::number(std::lround(move / kMs));
            }
        }
        QTEST(moves.join(','), "movesMs");
    }

    // The correction holds while the measure is too rough to say anything, follows it quickly
    // while the stream starts and where it lies further off than its error explains and stays
    // there (a card's clock measured for the first time), and else by at most 2 ppm a second, so
    // that a measure that scatters, or slides back as a schedule does after a burst of jitter (the
    // clocks' truth is where it ends), moves the pitch by far less than it does.
    void followsTheClocks_data() {
        QTest::addColumn<double>("fromS"); // the measure steps at
        QTest::addColumn<double>("toPpm");
        QTest::addColumn<double>("errorPpm");   // the measure's standard error
        QTest::addColumn<double>("scatterPpm"); // alternating either way, each second
        QTest::addColumn<double>("slideS");     // back to 0 over so long after the step
        QTest::addColumn<double>("afterTenSecondsPpm");
        QTest::newRow("measured at the start") << 3.0 << 1000.0 << 5.0 << 0.0 << 0.0 << 1000.0;
        QTest::newRow("too rough to follow") << 3.0 << 500.0 << 200.0 << 0.0 << 0.0 << 0.0;
        QTest::newRow("moving later, within its error")
            << 30.0 << 100.0 << 40.0 << 0.0 << 0.0 << 20.0;
        QTest::newRow("far off, later") << 30.0 << 100.0 << 5.0 << 0.0 << 0.0 << 100.0;
        QTest::newRow("scattering") << 120.0 << 0.0 << 40.0 << 60.0 << 0.0 << 0.0;
        QTest::newRow("sliding back") << 40.0 << 120.0 << 3.0 << 0.0 << 12.0 << 15.0;
    }
    void followsTheClocks() {
        QFETCH(double, fromS);
        QFETCH(double, toPpm);
        QFETCH(double, errorPpm);
        QFETCH(double, scatterPpm);
        QFETCH(double, slideS);
        QFETCH(double, afterTenSecondsPpm);
        DriftController controller(kRate);
        double worst = 0;
        for (int cycle = 0; cycle * 512 < (fromS + 10) * kRate; ++cycle) {
            const double s = cycle * 512.0 / kRate;
            const double scatter = (int(s) % 2 ? 1 : -1) * scatterPpm;
            const double slid = slideS > 0 ? std::max(0.0, 1 - (s - fromS) / slideS) : 1.0;
            const double measured = (s >= fromS ? toPpm * slid : 0) + scatter;
            const double c = controller.update(512, measured * 1e-6, errorPpm * 1e-6);
            if (s > fromS)
                worst = std::max(worst, std::abs(c * 1e6 - (slideS > 0 ? 0 : measured - scatter)));
        }
        QVERIFY2(std::abs(controller.correction() * 1e6 - afterTenSecondsPpm) < 2 + scatterPpm / 8,
                 qPrintable(QString::number(controller.correction() * 1e6)));
        QVERIFY2(scatterPpm == 0 || worst < scatterPpm / 4, qPrintable(QString::number(worst)));
        QVERIFY2(slideS == 0 || worst < toPpm / 4, qPrintable(QString::number(worst)));
    }

    // Cycles looked at through brackets of up to 2 ms: the lengths that fit them all bound the
    // card's within a few ppm over a minute, across a server's stop; brackets that no one length
    // fits (a stop not seen as one) bound nothing.
    void boundsTheCycles_data() {
        QTest::addColumn<double>("cardPpm");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<bool>("unseen");
        QTest::newRow("300 ppm slow") << -300.0 << false << false;
        QTest::newRow("1000 ppm fast, stopped for 43 ms") << 1000.0 << true << false;
        QTest::newRow("a stop not seen") << 0.0 << true << true;
    }
    void boundsTheCycles() {
        QFETCH(double, cardPpm);
        QFETCH(bool, stop);
        QFETCH(bool, unseen);
        const double nominalNs = 1e9 * 1024 / 96000, lengthNs = nominalNs / (1 + cardPpm * 1e-6);
        CycleBounds bounds;
        double shiftNs = 0;
        for (int k = 1; k < 60 * 94; ++k) {
            if (stop && k == 3000) {
                shiftNs += 43e6;
                if (!unseen)
                    bounds.breakPiece();
            }
            const double atNs = k * lengthNs + shiftNs;
            const double before = (k * 7919 % 13) * 1e5, after = (k * 104729 % 11) * 1e5;
            bounds.add(k, std::llround(atNs - before - 1), std::llround(atNs + after));
        }
        const CycleBounds::Length length = bounds.length(5e9);
        if (unseen)
            QCOMPARE(length.within, -1.0);
        else
            QVERIFY2(std::abs(nominalNs / length.ns - 1 - cardPpm * 1e-6) < 5e-6,
                     qPrintable(QString::number((nominalNs / length.ns - 1) * 1e6)));
    }
};

QTEST_GUILESS_MAIN(TestPitchKeeping)
#include "tst_pitchkeeping.moc"
