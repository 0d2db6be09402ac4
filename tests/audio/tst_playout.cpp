#include "jitterestimator.h"
#include "playout.h"
#include "playoutring.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <random>

static constexpr int kRate = 48000;
static constexpr int kDatagram = 240; // 5 ms
static constexpr double kFramesPerMs = kRate / 1000.0;
static constexpr std::int64_t kNsPerSecond = 1'000'000'000;

// How a host's datagrams reach the panel: the host's clock runs `skewPpm` fast (from `stepAtS`
// on, `skewAfterPpm`), every datagram is delayed by 1 ms, and while the time is within
// [jitterFromS, jitterToS) by `queueMs` more plus up to `jitterMs` (uniform, seeded, order kept);
// the datagrams numbered in `lost` never arrive.
struct Network {
    double skewPpm = 0.0;
    double skewAfterPpm = 0.0;
    double stepAtS = 1e9;
    double jitterMs = 0.0;
    double queueMs = 0.0;
    double jitterFromS = 0.0;
    double jitterToS = 1e9;
    QList<int> lost;
};
Q_DECLARE_METATYPE(Network)

struct Datagram {
    int index = 0;
    std::int64_t arrivalNs = 0;
    double delayMs = 0.0; // beyond the network's quickest
};

// The datagrams of `seconds` of a host's audio in order of arrival.
static QVector<Datagram> arrivals(const Network& net, double seconds) {
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> jitter(0.0, 1.0);
    QVector<Datagram> out;
    double sentS = 0.0;
    double arrivedS = 0.0;
    for (int k = 0; sentS < seconds; ++k) {
        const double skew = sentS < net.stepAtS ? net.skewPpm : net.skewAfterPpm;
        sentS += kDatagram / (kRate * (1.0 + skew * 1e-6));
        const bool jittery = sentS >= net.jitterFromS && sentS < net.jitterToS;
        const double delayS =
            0.001 + (jittery ? (net.queueMs + jitter(random) * net.jitterMs) / 1000.0 : 0.0);
        arrivedS = std::max(arrivedS, sentS + delayS);
        if (!net.lost.contains(k))
            out.append(
                {k, std::llround(arrivedS * kNsPerSecond), (arrivedS - sentS - 0.001) * 1e3});
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
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("result");
        QTest::newRow("in order") << 8 << "w0+4 r4"
                                  << "0/0/0 1,2,3,4/4";
        QTest::newRow("late frames skipped and counted") << 8 << "w0+2 r4 w2+4 r2"
                                                         << "0/0/0 1,2,_,_/2 2/0/0 5,6/2";
        QTest::newRow("a block wholly late") << 8 << "r4 w0+3 r1"
                                             << "_,_,_,_/0 3/0/0 _/0";
        QTest::newRow("silence for skipped positions") << 8 << "w0+2 w4+2 r6"
                                                       << "0/0/0 0/2/0 1,2,_,_,5,6/6";
        QTest::newRow("underrun: silence for what is missing, timeline kept")
            << 8 << "w0+3 r5 w5+2 r2"
            << "0/0/0 1,2,3,_,_/3 0/0/0 6,7/2";
        QTest::newRow("drop oldest down to the newest") << 8 << "w0+6 d2 r3"
                                                        << "0/0/0 4 5,6,_/2";
        QTest::newRow("drop: nothing past the bound") << 8 << "w0+2 d2 r2"
                                                      << "0/0/0 0 1,2/2";
        QTest::newRow("refusal beyond capacity") << 4 << "w0+6 r4 w6+2 r4"
                                                 << "0/0/2 1,2,3,4/4 0/2/0 _,_,7,8/4";
        QTest::newRow("a gap beyond capacity: silence up to it") << 4 << "w8+2 r4"
                                                                 << "0/4/2 _,_,_,_/4";
        QTest::newRow("wrapping around") << 4 << "w0+3 r3 w3+3 r3"
                                         << "0/0/0 1,2,3/3 0/0/0 4,5,6/3";
    }
    void ring() {
        QFETCH(int, capacity);
        QFETCH(QString, script);
        PlayoutRing ring;
        ring.reset(capacity, 0);
        QStringList results;
        for (const QString& op : script.split(' ')) {
            const QStringList numbers = op.mid(1).split('+');
            const int n = numbers.last().toInt();
            if (op[0] == 'w') {
                const int at = numbers.first().toInt();
                QVector<qint16> frames;
                for (int i = 0; i < n; ++i)
                    frames << qint16(at + i + 1) << qint16(at + i + 1);
                const auto w = ring.write(at, frames.constData(), n);
                results << QString("%1/%2/%3").arg(w.late).arg(w.silent).arg(w.refused);
            } else if (op[0] == 'r') {
                QVector<qint16> out(2 * n, -1);
                const int got = ring.read(out.data(), n);
                QStringList frames;
                for (int i = 0; i < n; ++i)
                    frames << (out[2 * i] == 0 ? "_" : QString::number(out[2 * i]));
                results << frames.join(',') + "/" + QString::number(got);
            } else {
                results << QString::number(ring.discardOldest(n));
            }
        }
        QTEST(results.join(' '), "result");
    }

    // Arrival traces: where the estimator places each datagram (the gaps it leaves, as frames
    // after each datagram, must be the lost ones, once each and never ahead of the stream) and
    // the target it asks for: within bounds and the floor, covering every datagram's lateness at
    // once, never shrinking faster than 2 ms a second, and back to one datagram and the margin
    // once the start or a burst of jitter has been given back.
    void estimator_data() {
        QTest::addColumn<Network>("net");
        QTest::addColumn<int>("floor");
        QTest::addColumn<QString>("gaps"); // frames the position moved on by, in order
        Network steady;
        QTest::newRow("steady") << steady << 0 << "";
        Network fast;
        fast.skewPpm = 1000;
        QTest::newRow("host 1000 ppm fast") << fast << 0 << "";
        Network slow;
        slow.skewPpm = -1000;
        QTest::newRow("host 1000 ppm slow") << slow << 0 << "";
        Network step;
        step.skewPpm = -500;
        step.skewAfterPpm = 500;
        step.stepAtS = 20;
        QTest::newRow("skew steps from -500 to +500 ppm") << step << 0 << "";
        Network burst;
        burst.jitterMs = 50;
        burst.jitterFromS = 20;
        burst.jitterToS = 40;
        QTest::newRow("jitter burst of 0-50 ms that stops") << burst << 0 << "";
        Network queue = burst;
        queue.queueMs = 10;
        queue.jitterMs = 20;
        QTest::newRow("a queue adding 10-30 ms for 20 s") << queue << 0 << "";
        Network loss;
        loss.skewPpm = -1000;
        loss.lost = {2000, 4000, 6000, 6001};
        QTest::newRow("single datagrams lost, and two in a row") << loss << 0 << "240 240 480";
        Network lossInJitter = burst;
        lossInJitter.lost = {6000};
        QTest::newRow("a datagram lost in a jitter burst") << lossInJitter << 0 << "240";
        QTest::newRow("the operator's floor") << steady << 10 * kDatagram << "";
        Network huge;
        huge.jitterMs = 1500;
        huge.jitterFromS = 20;
        huge.jitterToS = 30;
        QTest::newRow("jitter beyond the 500 ms bound") << huge << 0 << "";
    }
    void estimator() {
        QFETCH(Network, net);
        QFETCH(int, floor);
        const double seconds = 80.0;
        const QVector<Datagram> trace = arrivals(net, seconds);
        JitterEstimator estimator;
        estimator.reset(kRate, floor);
        QStringList gaps;
        QString fault;
        std::int64_t expected = 0;
        double lastTarget = 0.0;
        std::int64_t lastNs = trace.first().arrivalNs;
        for (const Datagram& d : trace) {
            const JitterEstimator::Placement p = estimator.arrival(d.arrivalNs, kDatagram);
            const double s = double(d.arrivalNs) / kNsPerSecond;
            if (p.position > expected)
                gaps << QString::number(p.position - expected);
            expected = p.position + kDatagram;
            const std::int64_t truth = std::int64_t(d.index) * kDatagram;
            const double quiet = kDatagram + 3.5 * kFramesPerMs;
            const bool settled =
                s > 15 &&
                (s < net.jitterFromS || s > net.jitterToS + 15 + (net.queueMs + net.jitterMs) / 2);
            const bool lossPending = lossUndetectedAt(net, d.index);
            if (p.position > truth || (p.position < truth && !lossPending))
                fault =
                    QString("datagram %1 at %2, not %3").arg(d.index).arg(p.position).arg(truth);
            else if (p.target < std::max(kDatagram, floor) || p.target > kRate / 2)
                fault = QString("target %1 out of bounds").arg(p.target);
            else if (p.target < kDatagram + (d.arrivalNs - p.dueNs) / 1e6 * kFramesPerMs &&
                     p.target < kRate / 2)
                fault = QString("target %1 short of lateness %2 ms")
                            .arg(p.target)
                            .arg((d.arrivalNs - p.dueNs) / 1e6);
            else if (lastTarget - p.target > 2.0 * kFramesPerMs * (d.arrivalNs - lastNs) / 1e6 + 1)
                fault = QString("target fell from %1 to %2").arg(lastTarget).arg(p.target);
            else if (heldAfterBurst(net, s) &&
                     p.target < kDatagram + (net.jitterMs - 2) * kFramesPerMs)
                fault =
                    QString("target %1 given back before the burst left the window").arg(p.target);
            else if (settled && p.target > std::max(quiet, double(floor)))
                fault = QString("target %1 at %2 s").arg(p.target).arg(s);
            if (!fault.isEmpty())
                QFAIL(qPrintable(fault + QString(" (%1 s)").arg(s)));
            lastTarget = p.target;
            lastNs = d.arrivalNs;
        }
        QTEST(gaps.join(' '), "gaps");
    }

    // A whole playout in simulated time: the host's datagrams (a 1 kHz tone at -6 dBFS on the
    // left, the host frame's position on the right) arrive through the network and the estimator
    // into the playout, which a card pulls 1024 frames at a time at 96 kHz on its own clock. The
    // latency (from the position the card plays back to when the host made that frame) settles
    // within 15 s of the playout's start and then stays within 5 ms; nothing underruns once
    // primed; the playout finds the host's skew to a few ppm; the tone comes out clean. A playout
    // may start on a stream already running (a speaker switched on).
    void playoutFollowsTheHostsClock_data() {
        QTest::addColumn<Network>("net");
        QTest::addColumn<double>("startS");
        Network fast;
        fast.skewPpm = 1000;
        QTest::newRow("host 1000 ppm fast") << fast << 0.0;
        Network slow;
        slow.skewPpm = -1000;
        QTest::newRow("host 1000 ppm slow") << slow << 0.0;
        Network jittery;
        jittery.skewPpm = 300;
        jittery.jitterMs = 4;
        QTest::newRow("host 300 ppm fast, 0-4 ms of jitter") << jittery << 0.0;
        QTest::newRow("started 10 s into the stream") << slow << 10.0;
    }
    void playoutFollowsTheHostsClock() {
        QFETCH(Network, net);
        QFETCH(double, startS);
        const Run run = simulate(net, 60.0, startS);
        QVector<double> settled;
        for (const QPointF& at : run.latencyMs)
            if (at.x() >= startS + 15)
                settled << at.y();
        std::sort(settled.begin(), settled.end());
        const double median = settled[settled.size() / 2];
        QVERIFY2(settled.last() - median <= 5.0 && median - settled.first() <= 5.0,
                 qPrintable(QString("%1 .. %2 ms").arg(settled.first()).arg(settled.last())));
        QCOMPARE(run.stats.underruns, 0u);
        QVERIFY2(std::abs(run.stats.skewPpm - net.skewPpm) < 3.0,
                 qPrintable(QString::number(run.stats.skewPpm)));
        const double thdN = thdPlusNoiseDb(run.tone, 1000.0 * (1.0 + net.skewPpm * 1e-6));
        QVERIFY2(thdN < -60.0, qPrintable(QString::number(thdN)));
    }

    // A burst of 0-50 ms of jitter from 20 s to 40 s: the playout underruns only while its
    // target grows at the burst's start, holds no more latency than the jitter asks for, and
    // gives the excess back by resampling within a minute of the burst's end.
    void playoutRidesOutAJitterBurst() {
        Network net;
        net.skewPpm = -200;
        net.jitterMs = 50;
        net.jitterFromS = 20;
        net.jitterToS = 40;
        const Run run = simulate(net, 110.0, 0.0);
        QVector<double> before, during, after;
        for (const QPointF& at : run.latencyMs) {
            if (at.x() > 15 && at.x() < 20)
                before << at.y();
            else if (at.x() > 22 && at.x() < 40)
                during << at.y();
            else if (at.x() > 100)
                after << at.y();
        }
        const double quiet = *std::max_element(before.begin(), before.end());
        const double most = *std::max_element(during.begin(), during.end());
        const double last = *std::max_element(after.begin(), after.end());
        QVERIFY2(most < quiet + 50 + 15, qPrintable(QString("%1 ms, %2 ms").arg(quiet).arg(most)));
        QVERIFY2(last < quiet + 10, qPrintable(QString("%1 ms, %2 ms").arg(quiet).arg(last)));
        QVERIFY2(!run.underrunS.isEmpty() && run.underrunS.last() < 22,
                 qPrintable(QString("underruns until %1 s").arg(run.underrunS.value(0))));
        QCOMPARE(run.stats.droppedFrames, 0u);
    }

private:
    static constexpr int kStreamRate = 2 * kRate;

    struct Run {
        QVector<QPointF> latencyMs; // (s, ms)
        QVector<double> underrunS;
        QVector<double> tone; // the last 2 s, left
        PlayoutStats stats;
    };

    // The host's datagrams (a 1 kHz tone at -6 dBFS on the left, the host frame's position on
    // the right) arrive through the network and the estimator into a playout started at
    // `startS`, which a card pulls 1024 frames at a time at 96 kHz on its own clock. The latency
    // is from the host frame the card plays to when the host made it.
    static Run simulate(const Network& net, double seconds, double startS) {
        constexpr int kCallback = 1024;
        const QVector<Datagram> trace = arrivals(net, seconds);
        JitterEstimator estimator;
        estimator.reset(kRate, 0);
        Playout playout;
        const double hostRate = kRate * (1.0 + net.skewPpm * 1e-6);
        QVector<qint16> frames(2 * kDatagram), out(2 * kCallback);
        Run run;
        int next = 0;
        for (std::int64_t c = 0; c * kCallback < seconds * kStreamRate; ++c) {
            const std::int64_t nowNs = c * kCallback * kNsPerSecond / kStreamRate;
            const double s = double(nowNs) / kNsPerSecond;
            if (c == std::llround(startS * kStreamRate / kCallback))
                playout.reset(kRate, kStreamRate, kDatagram, estimator.nextPosition());
            for (; next < trace.size() && trace[next].arrivalNs <= nowNs; ++next) {
                hostBlock(trace[next].index, frames);
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
            // The position, modulo 65536, away from where it wraps (the resampler rings there).
            if (std::abs(out[1]) < 24000 && out[0] != 0) {
                const double position = out[1] + 32768;
                run.latencyMs << QPointF(
                    s, std::fmod(s * hostRate - position + 65536 * 4, 65536.0) / hostRate * 1e3);
            }
            if (s > seconds - 2)
                for (int i = 0; i < kCallback; ++i)
                    run.tone << out[2 * i] / 32768.0;
        }
        run.stats = playout.stats();
        return run;
    }

    // Host block k: a 1 kHz tone at -6 dBFS on the left, each frame's position (modulo 65536,
    // offset to be signed) on the right.
    static void hostBlock(int k, QVector<qint16>& frames) {
        for (int i = 0; i < kDatagram; ++i) {
            const std::int64_t n = std::int64_t(k) * kDatagram + i;
            frames[2 * i] = qint16(std::lround(16384 * std::sin(2 * M_PI * 1000.0 * n / kRate)));
            frames[2 * i + 1] = qint16(n % 65536 - 32768);
        }
    }

    // THD+N of a tone at `hz`: in 10 ms stretches, the power left after taking out the best
    // fitting sine, over the sine's power.
    static double thdPlusNoiseDb(const QVector<double>& samples, double hz) {
        constexpr int rate = kStreamRate;
        const int stretch = rate / 100;
        double residual = 0.0, signal = 0.0;
        for (int at = 0; at + stretch <= samples.size(); at += stretch) {
            double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
            for (int i = at; i < at + stretch; ++i) {
                const double sn = std::sin(2 * M_PI * hz * i / rate);
                const double cs = std::cos(2 * M_PI * hz * i / rate);
                ss += sn * sn, cc += cc * 0 + cs * cs, sc += sn * cs;
                xs += samples[i] * sn, xc += samples[i] * cs;
            }
            const double det = ss * cc - sc * sc;
            const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
            for (int i = at; i < at + stretch; ++i) {
                const double fit =
                    a * std::sin(2 * M_PI * hz * i / rate) + b * std::cos(2 * M_PI * hz * i / rate);
                residual += (samples[i] - fit) * (samples[i] - fit);
                signal += fit * fit;
            }
        }
        return 10 * std::log10(residual / signal);
    }

    // Lateness is judged over 10 s: a burst of jitter still counts 9.5 s after it stopped.
    static bool heldAfterBurst(const Network& net, double s) {
        return net.jitterMs > 0 && net.jitterMs < 100 && s > net.jitterToS + 9.4 &&
               s < net.jitterToS + 9.5;
    }

    // A loss is found within 2.5 s, or 2.5 s after a burst of jitter it happened in.
    static bool lossUndetectedAt(const Network& net, int index) {
        const double s = index * kDatagram / double(kRate);
        return std::any_of(net.lost.begin(), net.lost.end(), [&](int k) {
            const double lostS = k * kDatagram / double(kRate);
            const bool inBurst = lostS >= net.jitterFromS && lostS < net.jitterToS;
            return k < index && s < std::max(lostS, inBurst ? net.jitterToS : 0.0) + 2.5;
        });
    }
};

QTEST_GUILESS_MAIN(TestPlayout)
#include "tst_playout.moc"
