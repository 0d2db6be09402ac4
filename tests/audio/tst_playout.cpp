// SPDX-License-Identifier: GPL-3.0-or-later

#include "jitterestimator.h"
#include "playout.h"
#include "playoutring.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <random>

static constexpr int kRate = 48000;
static constexpr int kStreamRate = 2 * kRate;
static constexpr int kDatagram = 240; // 5 ms
static constexpr double kFramesPerMs = kRate / 1000.0;
static constexpr double kBurstFromS = 20, kBurstToS = 40;

// How a host's datagrams reach the panel: the host's clock runs `skewPpm` fast, from 20 s on
// `skewAfterPpm`; every datagram is delayed by 1 ms, and in the burst (from 20 s to 40 s unless
// given) by `queueMs` more plus up to `jitterMs` (uniform, seeded, order kept); the datagrams
// numbered in `lost` never arrive.
struct Network {
    double skewPpm, skewAfterPpm, jitterMs, queueMs;
    QList<int> lost;
    double burstFromS = kBurstFromS, burstToS = kBurstToS;
};
Q_DECLARE_METATYPE(Network)
// Jitter from the first datagram on, and the host's clock 300 ppm fast.
static const Network kJitterFromStart{300, 300, 20, 0, {}, 0, 1e9};

struct Datagram {
    int index;
    std::int64_t arrivalNs;
};
static QVector<Datagram> arrivals(const Network& net, double seconds) {
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> jitter(0.0, 1.0);
    QVector<Datagram> out;
    double sentS = 0, arrivedS = 0;
    for (int k = 0; sentS < seconds; ++k) {
        sentS += kDatagram / (kRate * (1 + 1e-6 * (sentS < 20 ? net.skewPpm : net.skewAfterPpm)));
        const bool burst = sentS >= net.burstFromS && sentS < net.burstToS;
        const double extraMs = burst ? net.queueMs + jitter(random) * net.jitterMs : 0.0;
        arrivedS = std::max(arrivedS, sentS + 0.001 + extraMs / 1000);
        if (!net.lost.contains(k))
            out.append({k, std::llround(arrivedS * 1e9)});
    }
    return out;
}

class TestPlayout : public QObject {
    Q_OBJECT

private slots:
    // A script of ring operations on frames whose samples are their position + 1, and what each
    // did: "wP+N" writes N frames at position P (late/silent/refused frames), "rN" reads N (the
    // frames read, "_" for silence, then the frames of audio), "dK" keeps the newest K (frames
    // discarded).
    void ring_data() {
        QTest::addColumn<QString>("script"); // "capacity: operations"
        QTest::addColumn<QString>("result");
        QTest::newRow("late frames skipped, counted") << "8: w0+2 r4 w2+4 r2"
                                                      << "0/0/0 1,2,_,_/2 2/0/0 5,6/2";
        QTest::newRow("a block wholly late") << "8: r4 w0+3 r1"
                                             << "_,_,_,_/0 3/0/0 _/0";
        QTest::newRow("underrun keeps the timeline") << "8: w0+3 r5 w5+2 r2"
                                                     << "0/0/0 1,2,3,_,_/3 0/0/0 6,7/2";
        QTest::newRow("drop the oldest, then nothing past the bound") << "8: w0+6 d2 d2 r3"
                                                                      << "0/0/0 4 0 5,6,_/2";
        QTest::newRow("no room taken from unread audio") << "4: w0+2 r1 w2+4"
                                                         << "0/0/0 1/1 0/0/1";
        QTest::newRow("refusal beyond capacity") << "4: w0+6 r4 w6+2 r4"
                                                 << "0/0/2 1,2,3,4/4 0/2/0 _,_,7,8/4";
        QTest::newRow("a gap beyond capacity") << "4: w8+2 r4"
                                               << "0/4/2 _,_,_,_/4";
        QTest::newRow("wrapping around") << "4: w0+3 r3 w3+3 r3"
                                         << "0/0/0 1,2,3/3 0/0/0 4,5,6/3";
    }
    void ring() {
        QFETCH(QString, script);
        PlayoutRing ring;
        ring.reset(script.section(':', 0, 0).toInt(), 0);
        QStringList results;
        for (const QString& op : script.section(": ", 1).split(' ')) {
            const QStringList numbers = op.mid(1).split('+');
            const int at = numbers.first().toInt(), n = numbers.last().toInt();
            QVector<qint16> frames(2 * n, 0);
            if (op[0] == 'w') {
                for (int i = 0; i < 2 * n; ++i)
                    frames[i] = qint16(at + i / 2 + 1);
                const auto w = ring.write(at, frames.constData(), n);
                results << QString("%1/%2/%3").arg(w.late).arg(w.silent).arg(w.refused);
            } else if (op[0] == 'r') {
                const int got = ring.read(frames.data(), n);
                QStringList read;
                for (int i = 0; i < n; ++i)
                    read << (frames[2 * i] ? QString::number(frames[2 * i]) : "_");
                results << read.join(',') + "/" + QString::number(got);
            } else {
                results << QString::number(ring.discardOldest(at));
            }
        }
        QTEST(results.join(' '), "result");
    }

    // Arrival traces: the estimator leaves gaps in the stream exactly for the lost datagrams,
    // each once, never ahead of the stream and in step with it at the end, and asks for a target
    // within its bounds and the floor, covering every datagram's lateness at once, shrinking by at
    // most 2 ms a second and only once a burst has left the 10 s window, and back to one datagram
    // and the margin once the start or a burst has been given back.
    void estimator_data() {
        QTest::addColumn<Network>("net");
        QTest::addColumn<int>("floor");
        QTest::addColumn<QString>("gaps"); // frames the position moved on by, in order
        QTest::newRow("skew steps from -500 to +500 ppm")
            << Network{-500, 500, 0, 0, {}} << 0 << "";
        QTest::newRow("a queue adding 10-30 ms for 20 s") << Network{0, 0, 20, 10, {}} << 0 << "";
        QTest::newRow("single datagrams lost, and two in a row")
            << Network{-1000, -1000, 0, 0, {2000, 4000, 6000, 6001}} << 0 << "240 240 480";
        QList<int> everySecond{3060};
        for (int k = 1000; k <= 3000; k += 200)
            everySecond << k;
        QTest::newRow("a datagram lost every second, then two 0.3 s apart")
            << Network{1000, 1000, 0, 0, everySecond} << 0
            << QString("240 ").repeated(12).trimmed();
        QTest::newRow("a datagram lost in a jitter burst")
            << Network{0, 0, 50, 0, {6000}} << 0 << "240";
        QTest::newRow("the operator's floor") << Network{0, 0, 0, 0, {}} << 10 * kDatagram << "";
        QTest::newRow("jitter beyond the 500 ms bound") << Network{0, 0, 1500, 0, {}} << 0 << "";
        QTest::newRow("host 300 ppm fast, 0-20 ms of jitter from the start")
            << kJitterFromStart << 0 << "";
    }
    void estimator() {
        QFETCH(Network, net);
        QFETCH(int, floor);
        JitterEstimator estimator;
        estimator.reset(kRate, floor);
        QStringList gaps;
        std::int64_t next = 0;
        double lastTarget = 0, lastS = 0;
        const double quiet = std::max(kDatagram + 3.5 * kFramesPerMs, double(floor));
        const double burstMs = net.queueMs + net.jitterMs;
        for (const Datagram& d : arrivals(net, 80)) {
            const JitterEstimator::Placement p = estimator.arrival(d.arrivalNs, kDatagram);
            const double s = d.arrivalNs / 1e9, lateMs = (d.arrivalNs - p.dueNs) / 1e6;
            if (p.position > next)
                gaps << QString::number(p.position - next);
            next = p.position + kDatagram;
            const std::int64_t off = p.position - std::int64_t(d.index) * kDatagram;
            const bool inWindow =
                burstMs > 0 && burstMs < 100 && std::abs(s - net.burstToS - 9.45) < 0.05;
            const bool calm =
                burstMs == 0 || s < net.burstFromS || s > net.burstToS + 15 + burstMs / 2;
            const bool settled = s > 15 && net.lost.isEmpty() && calm;
            const std::pair<bool, const char*> rules[] = {
                {off > 0, "ahead of the stream"},
                {p.target < std::max(kDatagram, floor) || p.target > kRate / 2, "bounds"},
                {p.target < std::min(kDatagram + lateMs * kFramesPerMs, kRate / 2.0), "cover"},
                {lastTarget - p.target > 2 * kFramesPerMs * (s - lastS) * 1000 + 1, "shrink"},
                {inWindow && p.target < kDatagram + (burstMs - 2) * kFramesPerMs, "window"},
                {settled && p.target > quiet, "quiet"},
                {s > 60 && std::abs(estimator.skewPpm() - net.skewAfterPpm) > 50, "skew"},
            };
            for (const auto& [broken, rule] : rules)
                if (broken)
                    QFAIL(qPrintable(QString::asprintf("%s at %g s: target %d, skew %g ppm", rule,
                                                       s, p.target, estimator.skewPpm())));
            lastTarget = p.target;
            lastS = s;
        }
        QTEST(gaps.join(' '), "gaps");
        QCOMPARE(next, std::int64_t(kDatagram) * (arrivals(net, 80).last().index + 1));
    }

    // A whole playout in simulated time (see simulate()): the latency settles within 15 s of the
    // playout's start and then stays within 5 ms, no higher than a datagram, the margin and the
    // card's period ask for, nothing underruns once primed, the playout finds the host's skew to a
    // few ppm and the tone comes out clean; for a playout started on a running stream (a speaker
    // switched on), and for a card that takes a long period in several callbacks at once.
    void playoutFollowsTheHostsClock_data() {
        QTest::addColumn<Network>("net");
        QTest::addColumn<double>("startS");
        QTest::addColumn<int>("burst");
        QTest::newRow("host 1000 ppm fast, started 10 s into the stream")
            << Network{1000, 1000, 0, 0, {}} << 10.0 << 1;
        QTest::newRow("a 43 ms period taken in four callbacks at once")
            << Network{-1000, -1000, 0, 0, {}} << 0.0 << 4;
    }
    void playoutFollowsTheHostsClock() {
        QFETCH(Network, net);
        QFETCH(double, startS);
        QFETCH(int, burst);
        const Run run = simulate(net, 60, startS, burst);
        const auto [least, most] = latencyRange(run, startS + 15, 60);
        QVERIFY2(most - least <= 5.0, qPrintable(QString("%1 .. %2 ms").arg(least).arg(most)));
        const double heldMs = 5 + 2 + burst * 1024 * 1e3 / kStreamRate;
        QVERIFY2(most <= heldMs + 4, qPrintable(QString::number(most)));
        QVERIFY2(run.underrunS.isEmpty(),
                 qPrintable(QString("underrun at %1 s").arg(run.underrunS.value(0))));
        QVERIFY2(std::abs(run.stats.skewPpm - net.skewPpm) < 5.0,
                 qPrintable(QString::number(run.stats.skewPpm)));
        const double thdN = thdPlusNoiseDb(run.tone, 1000 * (1 + net.skewPpm * 1e-6));
        QVERIFY2(thdN < -60.0, qPrintable(QString::number(thdN)));
    }

    // A burst of 0-50 ms of jitter from 20 s to 40 s: the playout underruns only while its
    // target grows at the burst's start, holds no more latency than the jitter asks for, and
    // gives the excess back by resampling within 35 s of the burst's end, without driving the
    // fill past its target on the way (the skew it learns meanwhile would).
    void playoutRidesOutAJitterBurst() {
        const Run run = simulate(Network{-200, -200, 50, 0, {}}, 110, 0);
        const double quiet = latencyRange(run, 15, 20).second;
        const double during = latencyRange(run, 22, 40).second;
        const auto [lowest, after] = latencyRange(run, 75, 110);
        QVERIFY2(during < quiet + 50 + 15, qPrintable(QString("%1, %2 ms").arg(quiet).arg(during)));
        QVERIFY2(after < quiet + 10 && lowest > quiet - 1,
                 qPrintable(QString("%1: %2 .. %3 ms").arg(quiet).arg(lowest).arg(after)));
        QVERIFY2(!run.underrunS.isEmpty() && run.underrunS.last() < 22,
                 qPrintable(QString("underruns until %1 s").arg(run.underrunS.value(0))));
        QCOMPARE(run.stats.droppedFrames, 0u);
    }

    // Jitter from the first datagram on: after a minute the skew and the delay the panel shows
    // are the host's and the jitter's, and neither they nor the latency at the card move.
    void playoutFiguresHoldUnderJitter() {
        const Run run = simulate(kJitterFromStart, 150, 0);
        const auto [least, most] = latencyRange(run, 60, 150);
        const PlayoutStats& shown = run.stats;
        QVERIFY2(most - least <= 5.0 && std::abs(shown.skewPpm - 300) < 20 && shown.delayMs < 29,
                 qPrintable(QString::asprintf("latency %g .. %g ms, skew %g ppm, delay %g ms",
                                              least, most, shown.skewPpm, shown.delayMs)));
    }

private:
    struct Run {
        QVector<QPointF> latencyMs; // (s, ms)
        QVector<double> underrunS;
        QVector<double> tone; // the last 2 s, left
        PlayoutStats stats;
    };

    // The host's datagrams (a 1 kHz tone at -6 dBFS on the left, each frame's position modulo
    // 65536 on the right) arrive through the network and the estimator into a playout started at
    // `startS`, which a card pulls 1024 frames at a time at 96 kHz on its own clock. The latency
    // is from the host frame the card plays to when the host made it.
    // The card takes `burst` callbacks at one moment, as a sound server with a longer period does.
    static Run simulate(const Network& net, double seconds, double startS, int burst = 1) {
        constexpr int kCallback = 1024;
        const QVector<Datagram> trace = arrivals(net, seconds);
        const double hostRate = kRate * (1.0 + net.skewPpm * 1e-6);
        JitterEstimator estimator;
        estimator.reset(kRate, 0);
        Playout playout;
        QVector<qint16> frames(2 * kDatagram), out(2 * kCallback);
        Run run;
        int next = 0;
        for (std::int64_t c = 0; c * kCallback < seconds * kStreamRate; ++c) {
            const std::int64_t nowNs = (c - c % burst) * kCallback * 1'000'000'000LL / kStreamRate;
            const double s = nowNs / 1e9;
            if (c == std::llround(startS * kStreamRate / kCallback))
                playout.reset(kRate, kStreamRate, kDatagram, estimator.nextPosition());
            for (; next < trace.size() && trace[next].arrivalNs <= nowNs; ++next) {
                for (int i = 0; i < kDatagram; ++i) {
                    const std::int64_t n = std::int64_t(trace[next].index) * kDatagram + i;
                    frames[2 * i] = qint16(std::lround(16384 * std::sin(M_PI * n / 24)));
                    frames[2 * i + 1] = qint16(n % 65536 - 32768);
                }
                const auto placed = estimator.arrival(trace[next].arrivalNs, kDatagram);
                if (s >= startS) {
                    playout.push(placed.position, frames.constData(), kDatagram, placed.dueNs);
                    playout.setTarget(placed.target);
                }
            }
            if (s < startS)
                continue;
            const quint64 underruns = playout.stats().underruns;
            playout.pull(out.data(), kCallback, nowNs);
            if (playout.stats().underruns != underruns)
                run.underrunS << s;
            // Away from where the position wraps (the resampler rings there), and not in a
            // transition from silence.
            // The latency of what the card plays when it plays it, not when it took it.
            const double playedS = double(c) * kCallback / kStreamRate;
            if (std::abs(out[1]) < 24000 && std::abs(out[3] - out[1]) <= 2 && out[0] != 0)
                run.latencyMs << QPointF(
                    s,
                    std::fmod(playedS * hostRate - out[1] + 32768 * 7, 65536.0) / hostRate * 1e3);
            for (int i = 0; i < kCallback && s > seconds - 2; ++i)
                run.tone << out[2 * i] / 32768.0;
        }
        run.stats = playout.stats();
        return run;
    }

    static std::pair<double, double> latencyRange(const Run& run, double fromS, double toS) {
        QVector<double> ms;
        for (const QPointF& at : run.latencyMs)
            if (at.x() >= fromS && at.x() < toS)
                ms << at.y();
        const auto [least, most] = std::minmax_element(ms.begin(), ms.end());
        return {*least, *most};
    }

    // THD+N of a tone at `hz`: in 10 ms stretches, the power left after taking out the best
    // fitting sine (least squares: what the fit does not project), over the sine's power.
    static double thdPlusNoiseDb(const QVector<double>& x, double hz) {
        constexpr int kStretch = kStreamRate / 100;
        double residual = 0, signal = 0;
        for (int at = 0; at + kStretch <= x.size(); at += kStretch) {
            double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0, xx = 0;
            for (int i = at; i < at + kStretch; ++i) {
                const double sn = std::sin(2 * M_PI * hz * i / kStreamRate);
                const double cs = std::cos(2 * M_PI * hz * i / kStreamRate);
                ss += sn * sn, cc += cs * cs, sc += sn * cs, xs += x[i] * sn, xc += x[i] * cs;
                xx += x[i] * x[i];
            }
            const double det = ss * cc - sc * sc;
            const double fit = (xs * (xs * cc - xc * sc) + xc * (xc * ss - xs * sc)) / det;
            residual += xx - fit;
            signal += fit;
        }
        return 10 * std::log10(residual / signal);
    }
};

QTEST_GUILESS_MAIN(TestPlayout)
#include "tst_playout.moc"
