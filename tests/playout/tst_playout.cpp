// SPDX-License-Identifier: GPL-3.0-or-later

#include "cardclock.h"
#include "jitterestimator.h"
#include "playbacksink.h"
#include "playoutring.h"
#include "receiver.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <utility>

static constexpr int kRate = 48000;
static constexpr int kStreamRate = 2 * kRate;
// By when the estimator's phase has locked on a lossy stream (24 blocks of half a second).
static constexpr double kLockedS = 15;

// How a host's datagrams of `frames` reach the panel: the host's clock runs `skewPpm` fast; every
// datagram is delayed by 1 ms, and in the burst (from 20 s to 40 s unless given) by up to
// `jitterMs` more (uniform, seeded, order kept), or with a heavy tail by `meanTailMs` on average
// (exponential); the datagrams numbered in `lost` never arrive, nor `lossPercent` of the others
// (seeded); those in `heldBackMs` come that much later, with the ones behind them.
struct Network {
    double skewPpm, jitterMs;
    QList<int> lost;
    double burstFromS = 20, burstToS = 40;
    int frames = 240;
    double lossPercent = 0;
    double meanTailMs = 0;
    QMap<int, double> heldBackMs = {}; // datagrams held back, by how many ms, the rest behind them
};
Q_DECLARE_METATYPE(Network)
using Moments = QMap<double, double>; // seconds into a run, and what happened then
// The link most operators have: jitter and loss together, the bench's datagrams of 512 frames.
static Network link(double skewPpm) {
    return {skewPpm, 20, {}, 0, 1e9, 512, 1};
}

struct Datagram {
    int index;
    std::int64_t arrivalNs;
};
static QVector<Datagram> arrivals(const Network& net, double seconds) {
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> draw(0.0, 1.0);
    QVector<Datagram> out;
    double sentS = 0, arrivedS = 0;
    for (int k = 0; sentS < seconds; ++k) {
        sentS += net.frames / (kRate * (1 + 1e-6 * net.skewPpm));
        const bool burst = sentS >= net.burstFromS && sentS < net.burstToS;
        const double u = burst ? draw(random) : 0.0;
        const double extraMs =
            net.meanTailMs > 0 ? -net.meanTailMs * std::log(1 - u) : u * net.jitterMs;
        if (draw(random) * 100 < net.lossPercent || net.lost.contains(k))
            continue;
        arrivedS = std::max(arrivedS, sentS + 0.001 + (extraMs + net.heldBackMs.value(k)) / 1000);
        out.append({k, std::llround(arrivedS * 1e9)});
    }
    return out;
}

// How many datagrams of a trace never arrived, of those due from its first arrival after `fromS`
// (there is one).
static int lostFrom(const QVector<Datagram>& trace, double fromS) {
    const auto from = std::find_if(trace.begin(), trace.end(),
                                   [&](const Datagram& d) { return d.arrivalNs > fromS * 1e9; });
    return int(trace.last().index - from->index) - int(trace.end() - from) + 1;
}

// One 10 ms stretch of a tone at `hz`: what the best fitting sine leaves, and its power, added.
static constexpr int kStretch = kStreamRate / 100;
static void fitStretch(const double* x, double hz, double& residual, double& signal) {
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0, xx = 0;
    for (int i = 0; i < kStretch; ++i) {
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

// A card in memory: a buffer the playout writes, emptied a period at a time on the card's own
// clock, which runs `ppm` fast against the system's and stops for a while at the moments given;
// what each cycle took, and when.
class SimulatedCard : public PlaybackSink {
public:
    SimulatedCard(int period, double ppm, const Moments& stopsMs = {})
        : period(period)
        , periodNs(1e9 * period / (kStreamRate * (1 + ppm * 1e-6)))
        , stopsMs(stopsMs) {}
    long writable() override { return kCapacity - static_cast<long>(held.size() / 2); }
    void write(const std::int16_t* frames, long count) override {
        held.insert(held.end(), frames, frames + 2 * count);
        if (halted && static_cast<long>(held.size() / 2) >= period)
            restart();
    }
    std::int64_t nextCycleNs() const {
        if (halted)
            return INT64_MAX;
        double atNs = cycles * periodNs;
        for (auto stop = stopsMs.begin(); stop != stopsMs.end() && stop.key() * 1e9 <= atNs; ++stop)
            atNs += stop.value() * 1e6;
        return std::llround(atNs);
    }
    // One cycle: the card takes a period (less the priming at its first), short of what it was
    // not given; one that halts on running dry drops what it held.
    QVector<qint16> cycle() {
        QVector<qint16> out(2 * period, 0);
        const auto want = static_cast<std::size_t>(2 * (period - (taking ? 0 : priming)));
        const auto n = std::min(held.size(), want);
        std::copy(held.begin(), held.begin() + n, out.begin());
        held.erase(held.begin(), held.begin() + n);
        ranShort = n < want;
        taking = true;
        ++cycles;
        if (ranShort && haltsWhenDry) {
            held.clear();
            halted = true;
        }
        return out;
    }
    bool ranShort = false; // the last cycle
    // A stream through a server that resamples it takes `priming` frames less at its first cycle;
    // one that halts when dry (ALSA's start threshold as PortAudio sets it, after its recovery from
    // an underrun) takes nothing more until it holds a period again. `nowNs` is the simulation's.
    int priming = 0;
    bool haltsWhenDry = false;
    std::int64_t nowNs = 0;

private:
    void restart() {
        halted = taking = false;
        cycles = static_cast<std::int64_t>(std::ceil(nowNs / periodNs));
    }
    bool halted = false;
    bool taking = false;

    static constexpr long kCapacity = 96000;
    int period;
    double periodNs;
    Moments stopsMs;
    std::int64_t cycles = 0;
    std::vector<std::int16_t> held;
};

class TestPlayout : public QObject {
    Q_OBJECT

private slots:
    // A script of ring operations on frames whose samples are their position + 1, and what each
    // did: "wP+N" writes N frames at position P (late/silent/refused frames), "rN" reads N (the
    // frames read, "_" for silence, then the frames of audio), "rN+W" too, waiting for up to W of
    // those not written, "dK" keeps the newest K (frames discarded).
    void ring_data() {
        QTest::addColumn<QString>("script"); // "capacity: operations"
        QTest::addColumn<QString>("result");
        QTest::newRow("late frames skipped, counted") << "8: w0+2 r4 w2+4 r2"
                                                      << "0/0/0 1,2,_,_/2 2/0/0 5,6/2";
        QTest::newRow("a block wholly late") << "8: r4 w0+3 r1"
                                             << "_,_,_,_/0 3/0/0 _/0";
        QTest::newRow("underrun keeps the timeline") << "8: w0+3 r5 w5+2 r2"
                                                     << "0/0/0 1,2,3,_,_/3 0/0/0 6,7/2";
        QTest::newRow("underrun waited for, within its room") << "8: w0+3 r5+1 w3+2 r2"
                                                              << "0/0/0 1,2,3,_,_/3 1/0/0 5,_/1";
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
                const int count = numbers.first().toInt();
                frames.fill(-1, 2 * count); // what a read leaves unwritten shows
                const int got = ring.read(frames.data(), count, numbers.size() > 1 ? n : 0);
                QStringList read;
                for (int i = 0; i < count; ++i)
                    read << (frames[2 * i] ? QString::number(frames[2 * i]) : "_");
                results << read.join(',') + "/" + QString::number(got);
            } else {
                results << QString::number(ring.discardOldest(at));
            }
        }
        QTEST(results.join(' '), "result");
    }

    // Arrival traces through the whole estimator (its parts' rules are tst_estimatorparts'): it
    // leaves gaps in the stream for the lost datagrams, each once (under jitter, as many as were
    // lost once its phase has locked, give or take 2 %, and each soon after: from two seconds after
    // the lock on, no more than two and a half datagrams for each loss a loss behind, a fifth of
    // them where the jitter has a heavy tail and a loss shows only in a run of late datagrams; no
    // gap for the tail), never ahead of the stream and in step with
    // it at the end, finds the host's skew within 50 ppm from 60 s on (100 ppm where jitter keeps
    // every datagram late for longer than a block), whatever it lost, and asks for a target that
    // covers a burst's lateness until it has left the 10 s window, and is back to one datagram and
    // the margin once the start or a burst has been given back.
    void estimator_data() {
        QTest::addColumn<Network>("net");
        QTest::addColumn<QString>("gaps"); // frames the position moved on by, in order
        QList<int> lost{6060, 8000, 8001};
        for (int k = 4000; k <= 6000; k += 200)
            lost << k;
        QTest::newRow("a datagram lost every second, then two 0.3 s apart and two in a row")
            << Network{1000, 0, lost} << QString("240 ").repeated(14).trimmed();
        QTest::newRow("a burst of 0-20 ms of jitter from 20 s to 40 s") << Network{0, 20, {}} << "";
        QTest::newRow("0-40 ms of jitter for the first 20 s")
            << Network{0, 40, {}, 0, 20, 512} << "";
        QTest::newRow("host 300 ppm fast, 0-20 ms of jitter from the start")
            << Network{300, 20, {}, 0, 1e9} << "";
        QTest::newRow("0-50 ms of jitter over datagrams of 5 ms")
            << Network{0, 50, {}, 0, 1e9} << "scattered";
        QTest::newRow("1 % lost under 0-20 ms of jitter, host 100 ppm fast") << link(100) << "~1 %";
        QTest::newRow("1 % lost on a calm link, host 1000 ppm slow")
            << Network{-1000, 0, {}, 0, 1e9, 512, 1} << "~1 %";
        QTest::newRow("heavy-tailed jitter, 4 ms on average, nothing lost")
            << Network{100, 0, {}, 0, 1e9, 512, 0, 4} << "";
        QTest::newRow("1 % lost under heavy-tailed jitter, 4 ms on average")
            << Network{100, 0, {}, 0, 1e9, 512, 1, 4} << "~1 %";
    }
    void estimator() {
        QFETCH(Network, net);
        QFETCH(QString, gaps);
        JitterEstimator estimator;
        estimator.reset(kRate, 0);
        const int frames = net.frames;
        const double framesPerMs = kRate / 1000.0;
        const QVector<Datagram> trace = arrivals(net, 100);
        QStringList moved;
        std::int64_t next = 0;
        const bool lossy = net.lossPercent > 0;
        QVector<std::int64_t> offsets; // a lossy stream's, from two seconds after the lock on
        const double skewTolerance = gaps == "scattered" ? 100 : 50;
        for (const Datagram& d : trace) {
            const JitterEstimator::Placement p = estimator.arrival(d.arrivalNs, frames);
            const double s = d.arrivalNs / 1e9;
            if (p.position > next && (!lossy || s > kLockedS))
                moved << QString::number(p.position - next);
            const bool behind = p.position < next;
            next = p.position + frames;
            const std::int64_t off = p.position - std::int64_t(d.index) * frames;
            if (lossy && s > kLockedS + 2)
                offsets << off;
            const bool inWindow = net.jitterMs > 0 && std::abs(s - net.burstToS - 9.45) < 0.05;
            const bool calm = (net.jitterMs == 0 && net.meanTailMs == 0) || s < net.burstFromS ||
                              s > net.burstToS + 20 + net.jitterMs / 2;
            const bool settled = s > 15 && net.lost.isEmpty() && !lossy && calm;
            const std::pair<bool, const char*> rules[] = {
                {off > 0 || (!lossy && behind), "ahead of the stream"},
                {inWindow && p.target < frames + (net.jitterMs - 2) * framesPerMs, "window"},
                {settled && p.target > frames + 7 * framesPerMs, "quiet"},
                {s > std::min(60.0, net.burstToS + 10) &&
                     std::abs(estimator.skewPpm() - net.skewPpm) > skewTolerance,
                 "skew"},
            };
            for (const auto& [broken, rule] : rules)
                if (broken)
                    QFAIL(qPrintable(QString::asprintf("%s at %g s: target %d, skew %g ppm", rule,
                                                       s, p.target, estimator.skewPpm())));
        }
        if (lossy) {
            const int lost = lostFrom(trace, kLockedS);
            QVERIFY2(std::abs(moved.size() - lost) <= 0.02 * lost,
                     qPrintable(QString("%1 gaps for %2 lost").arg(moved.size()).arg(lost)));
            const auto behind = std::count_if(offsets.begin(), offsets.end(),
                                              [&](std::int64_t o) { return o < offsets.last(); });
            const double most =
                net.meanTailMs > 0 ? 0.2 * offsets.size() : 2.5 * lostFrom(trace, kLockedS + 2);
            QVERIFY2(behind <= most,
                     qPrintable(QString("%1 of %2 behind").arg(behind).arg(offsets.size())));
        } else {
            QCOMPARE(moved.join(' '), gaps == "scattered" ? QString() : gaps);
            QCOMPARE(next, std::int64_t(frames) * (trace.last().index + 1));
        }
    }

    // A card's clock learned from looks every millisecond at what it had taken: once it has
    // measured a whole span after the first, the figure is the card's clock within 5 ppm, whatever
    // time its server loses or makes up, give or take 16 ppm for each step in a span where a
    // 256-frame cycle's time, lost at a step, is found again only to a third of a millisecond
    // (of 20 s). A server that stops for a while goes on a period after it
    // starts again; one that wakes late now and then keeps its schedule, so the cycle after a late
    // one comes early.
    void cardClock_data() {
        QTest::addColumn<int>("period");
        QTest::addColumn<double>("cardPpm");
        QTest::addColumn<Moments>("stopsMs");  // by when, for how long
        QTest::addColumn<Moments>("lateByMs"); // by when, how late one cycle came
        QTest::addColumn<double>("withinPpm");
        QTest::addColumn<int>("unlookedMs"); // every 2 s the card is not looked at for so long
        QTest::newRow("a card 300 ppm slow")
            << 1024 << -300.0 << Moments{} << Moments{} << 5.0 << 0;
        QTest::newRow("a card 300 ppm slow, several cycles between looks now and then")
            << 1024 << -300.0 << Moments{} << Moments{} << 5.0 << 50;
        QTest::newRow("a card 1000 ppm fast whose server stops for 43 ms twice")
            << 1024 << 1000.0 << Moments{{10, 43}, {50, 43}, {70, 43}, {100, 43}} << Moments{}
            << 5.0 << 0;
        QTest::newRow("a card 300 ppm slow whose server stops for 4 ms now and then")
            << 256 << -300.0 << Moments{{10, 4}, {50, 4}, {52.5, 4}, {70, 4}, {100, 4}} << Moments{}
            << 5 + 2 * 16.0 << 0;
        QTest::newRow("a card 300 ppm slow whose server wakes 4 ms late now and then")
            << 256 << -300.0 << Moments{} << Moments{{10, 4}, {50, 4}, {52.5, 4}, {70, 4}, {100, 4}}
            << 5 + 2 * 16.0 << 0;
    }
    void cardClock() {
        QFETCH(int, period);
        QFETCH(double, cardPpm);
        QFETCH(Moments, stopsMs);
        QFETCH(Moments, lateByMs);
        QFETCH(double, withinPpm);
        QFETCH(int, unlookedMs);
        CardClock clock;
        clock.reset(kRate);
        const double cycleNs = 1e9 * period / (kRate * (1 + cardPpm * 1e-6));
        double stoppedNs = 0;
        std::int64_t cycles = 0;
        auto cycleAtNs = [&] {
            const double onTimeNs = cycles * cycleNs + stoppedNs;
            const auto late = lateByMs.lowerBound(onTimeNs / 1e9);
            const bool lateOne = late != lateByMs.end() && late.key() * 1e9 < onTimeNs + cycleNs;
            return std::llround(onTimeNs + (lateOne ? late.value() * 1e6 : 0));
        };
        for (std::int64_t nowNs = 300'000; nowNs < 120e9; nowNs += 1'000'000) {
            for (auto stop = stopsMs.lowerBound((nowNs - 1e6) / 1e9);
                 stop != stopsMs.end() && stop.key() * 1e9 < nowNs; ++stop)
                stoppedNs += stop.value() * 1e6;
            while (cycleAtNs() <= nowNs)
                ++cycles;
            if (nowNs % 2'000'000'000 >= unlookedMs * 1'000'000)
                clock.look(nowNs, cycles * period);
            if (nowNs >= 45e9 && nowNs % 1'000'000'000 == 300'000)
                QVERIFY2(
                    std::abs(clock.clockPpm() - cardPpm) < withinPpm,
                    qPrintable(QString::asprintf("%g ppm at %g s", clock.clockPpm(), nowNs / 1e9)));
        }
        QCOMPARE(clock.periodFrames(), long(period));
    }

    // A whole receive path in simulated time (see simulate()): the latency settles within 15 s of
    // the playout's start and then stays within 5 ms, no higher than a datagram, the margin, the
    // headroom and the card's period ask for, nothing underruns once started, the panel's skew is
    // the host's against the card's to a few ppm and the tone comes out clean; for a playout
    // started on a running stream (a speaker switched on), a card whose clock is not the system's,
    // and a card that takes a long period at once.
    void playoutFollowsTheHostsClock_data() {
        QTest::addColumn<Network>("net");
        QTest::addColumn<double>("startS");
        QTest::addColumn<int>("period");
        QTest::addColumn<double>("cardPpm");
        QTest::newRow("host 1000 ppm fast, started 10 s into the stream")
            << Network{1000, 0, {}} << 10.0 << 1024 << 0.0;
        QTest::newRow("host 1000 ppm slow, the card 300 ppm slow")
            << Network{-1000, 0, {}} << 0.0 << 1024 << -300.0;
        QTest::newRow("a 43 ms period") << Network{-1000, 0, {}} << 0.0 << 4096 << 0.0;
    }
    void playoutFollowsTheHostsClock() {
        QFETCH(Network, net);
        QFETCH(double, startS);
        QFETCH(int, period);
        QFETCH(double, cardPpm);
        const Run run = simulate(net, 60, startS, period, cardPpm);
        const Spread settled = latency(run, startS + 15, 60);
        QVERIFY2(settled.most - settled.least <= 5.0,
                 qPrintable(QString("%1 .. %2 ms").arg(settled.least).arg(settled.most)));
        const double heldMs = 5 + 2 + 3 + period * 1e3 / kStreamRate;
        QVERIFY2(settled.most <= heldMs + 8, qPrintable(QString::number(settled.most)));
        QVERIFY2(run.worstPitchPpm(startS) < 500,
                 qPrintable(QString::number(run.worstPitchPpm(startS))));
        QVERIFY2(run.worstPitchPpm(startS + 15) < 20,
                 qPrintable(QString::number(run.worstPitchPpm(startS + 15))));
        QVERIFY2(run.shortS.isEmpty() && run.stats.underruns == 0,
                 qPrintable(QString("short at %1 s").arg(run.shortS.value(0))));
        const double skew = (1 + net.skewPpm * 1e-6) / (1 + cardPpm * 1e-6) * 1e6 - 1e6;
        QVERIFY2(std::abs(run.stats.skewPpm - skew) < 5.0,
                 qPrintable(QString::number(run.stats.skewPpm)));
        const double thdN = thdPlusNoiseDb(run.tone, 1000 * (1 + skew * 1e-6));
        QVERIFY2(thdN < -60.0, qPrintable(QString::number(thdN)));
    }

    // A card whose server stops for a while (busy with another client): when it plays again, the
    // audio that came meanwhile is spliced out at once, so the latency is back where it was (to
    // within the keeper's 4 ms) within two seconds, by a splice, not a change of pitch (the
    // card's clock, first measured loosely, within 30 ppm).
    void playoutDropsWhatAStoppedCardMissed_data() {
        QTest::addColumn<double>("stopMs");
        QTest::newRow("150 ms") << 150.0;
        QTest::newRow("300 ms") << 300.0;
        QTest::newRow("350 ms") << 350.0;
    }
    void playoutDropsWhatAStoppedCardMissed() {
        QFETCH(double, stopMs);
        const Run run = simulate(Network{0, 0, {}}, 40, 0, 1024, 0, Moments{{30, stopMs}});
        const double before = latency(run, 20, 30).most;
        const Spread after = latency(run, 32, 40), back = latency(run, 38, 40);
        QVERIFY2(after.most < before + 5 && back.least > before - 1 && back.most < before + 5,
                 qPrintable(QString("%1: %2 .. %3 ms, then %4 .. %5 ms")
                                .arg(before)
                                .arg(after.least)
                                .arg(after.most)
                                .arg(back.least)
                                .arg(back.most)));
        QVERIFY(run.stats.scaledFrames > 0);
        QVERIFY2(run.worstPitchPpm(15) < 30, qPrintable(QString::number(run.worstPitchPpm(15))));
    }

    // A stream through a server that resamples it takes a little less than a period at its first
    // cycle, and one that runs dry is stopped and started again only once it holds a period
    // (ALSA's start threshold, as PortAudio sets it when it recovers from an underrun): a playout
    // started on a running stream (a speaker switched on), at any moment of a datagram, keeps such
    // a card fed until its cycles are known, and its audio plays within a second.
    void playoutStartsACardThatTakesLessAtFirst() {
        for (int offset = 0; offset < 20; ++offset) {
            const double startS = 1 + offset * 0.00113;
            const Run run = simulate(Network{0, 0, {}, 0, 0, 512}, startS + 1.5, startS, 2048, 0,
                                     {}, true, 61, true);
            QVERIFY2(
                !run.latencyMs.isEmpty() && run.latencyMs.first().x() < startS + 1,
                qPrintable(QString("started at %1 s: the tone at %2 s")
                               .arg(startS)
                               .arg(run.latencyMs.isEmpty() ? -1 : run.latencyMs.first().x())));
        }
    }

    // A burst of 0-50 ms of jitter from 20 s to 40 s: the card runs short only during the burst,
    // holds no more latency than the jitter and the queue it builds over datagrams of 5 ms ask
    // for, and gives the excess back by splices within 35 s of the burst's end, at the host's
    // pitch throughout.
    void playoutRidesOutAJitterBurst() {
        const Run run = simulate(Network{-200, 50, {}}, 110);
        const double quiet = latency(run, 15, 20).most, during = latency(run, 22, 40).most;
        const Spread after = latency(run, 75, 110);
        QVERIFY2(during < quiet + 150, qPrintable(QString("%1, %2 ms").arg(quiet).arg(during)));
        QVERIFY2(
            after.most < quiet + 10 && after.least > quiet - 0.5,
            qPrintable(QString("%1: %2 .. %3 ms").arg(quiet).arg(after.least).arg(after.most)));
        QVERIFY2(run.stats.underruns > 0 && run.underrunS.last() < 40,
                 qPrintable(QString("underruns until %1 s").arg(run.underrunS.value(0))));
        QVERIFY2(run.worstPitchPpm(42) < 50, qPrintable(QString::number(run.worstPitchPpm(42))));
    }

    // Jitter from the stream's first datagram keeps the host's clock unmeasured for half a minute;
    // a card 175 ppm fast is measured and followed meanwhile, so the pitch
    // is the host's from 15 s on.
    void playoutFollowsTheCardWhileTheHostIsUnmeasured() {
        const Run run = simulate(Network{0, 40, {}, 0, 20, 512}, 40, 0, 1024, 175);
        QVERIFY2(run.worstPitchPpm(15) < 50, qPrintable(QString::number(run.worstPitchPpm(15))));
    }

    // A link that stalls for 300 ms every 20 s and then delivers what it held at once (a mobile
    // link's handover): each stall is one gap, no longer than the stall; the backlog is passed
    // over, so the latency 10 s after is within a few milliseconds of the latency before, and the
    // target keeps none of the stall; the pitch stays the host's.
    void playoutRidesOutStalls() {
        Network net{0, 0, {}, 0, 0, 512};
        for (const int k : {1875, 3750, 5625})
            net.heldBackMs[k] = 300;
        const Run run = simulate(net, 75);
        QCOMPARE(run.gapsMs.size(), 3);
        for (const QPointF& gap : run.gapsMs) {
            QVERIFY2(gap.y() < 300, qPrintable(QString::number(gap.y())));
            const double before = latency(run, gap.x() - 5, gap.x() - 0.5).most;
            const double after = latency(run, gap.x() + 10, gap.x() + 12).most;
            QVERIFY2(std::abs(after - before) < 5,
                     qPrintable(QString("%1, %2 ms").arg(before).arg(after)));
        }
        QCOMPARE(run.stats.stalls, 3u);
        QCOMPARE(run.stats.stallsCovered, 0u);
        QVERIFY2(run.worstPitchPpm(15) < 50, qPrintable(QString::number(run.worstPitchPpm(15))));
    }

    // A calm link that loses 5 % of its 5-ms datagrams from the first on, each of which holds five
    // whole cycles of the tone: no loss shows in the audio, and until the schedule's phase locks
    // none is counted, so the stream stands further on than its audio was placed, and before long
    // every datagram comes too late for the card. The audio finds its place again: from 15 s on the
    // card plays the host's tone without a gap to the end. Meanwhile the card never runs dry: what
    // comes in the last moments before a cycle is fed to it at once.
    void playoutFindsItsPlaceOnACalmLossyLink() {
        const Run run = simulate(Network{100, 0, {}, 0, 0, 240, 5}, 50);
        QVERIFY2(
            run.gapsMs.isEmpty() || run.gapsMs.last().x() < kLockedS,
            qPrintable(QString("a gap at %1 s").arg(run.gapsMs.value(run.gapsMs.size() - 1).x())));
        QVERIFY2(!run.latencyMs.isEmpty() && run.latencyMs.last().x() > 49,
                 qPrintable(QString("the tone last at %1 s")
                                .arg(run.latencyMs.value(run.latencyMs.size() - 1).x())));
        QVERIFY2(run.shortS.isEmpty(), qPrintable(QString("dry at %1 s").arg(run.shortS.value(0))));
    }

    // Two losses a datagram apart, before the timing can count losses: the audio shows each, the
    // second from the one datagram between them, and neither plays the audio after it early.
    void playoutHearsLossesCloseTogether() {
        const Run run = simulate(Network{0, 0, {300, 302}, 0, 0, 512}, 6);
        const double before = latency(run, 2, 3.2).least, after = latency(run, 3.2, 6).least;
        QVERIFY2(after >= before - 1, qPrintable(QString("%1 then %2 ms").arg(before).arg(after)));
    }

    // The link most operators have, from its first datagram on: the card never runs dry (what is
    // late is filled in before the cycle), once the phase has locked each lost datagram is filled
    // with the audio continued for its own length (as is what comes too late for its cycle), or,
    // switched off, left a silent gap of its length, the latency from 30 s on holds within 5 ms
    // (5-95 %), the pitch within 50 ppm of the host's (1 % lost is 10000 ppm of missing audio, none
    // of it made good by the resampler), and the panel's skew is the host's within 50 ppm.
    // From the first seconds, before the timing can count losses, no loss plays the audio after it
    // early: the latency never falls below its least of the second before.
    // Concealed, the tone's THD+N from 30 s on is below -26.5 dB: each gap goes where its loss was
    // (heard in the audio at once, where the timing shows it a few datagrams on, on a calm link
    // three), and the fill carries the tone on in phase to the audio after it; a gap placed where
    // its loss was found plays that audio a datagram early and jumps twice (-22 to -25 dB).
    void playoutHoldsOnALossyLink_data() {
        QTest::addColumn<Network>("net");
        QTest::addColumn<bool>("conceal");
        QTest::addColumn<double>("mostThdDb");
        QTest::newRow("concealed") << link(100) << true << -26.5;
        QTest::newRow("silent") << link(100) << false << 0.0;
        QTest::newRow("concealed on a calm link")
            << Network{100, 0, {}, 0, 1e9, 512, 1} << true << -26.5;
    }
    void playoutHoldsOnALossyLink() {
        QFETCH(Network, net);
        QFETCH(bool, conceal);
        QFETCH(double, mostThdDb);
        const Run run = simulate(net, 150, 0, 1024, 0, {}, conceal);
        QVERIFY2(run.shortS.isEmpty(), qPrintable(QString("dry at %1 s").arg(run.shortS.value(0))));
        int gaps = 0;
        for (const QPointF& gap : run.gapsMs) {
            gaps += gap.x() >= kLockedS ? 1 : 0;
            QVERIFY2(gap.x() < kLockedS || gap.y() <= 512 * 1e3 / kRate + 0.5,
                     qPrintable(QString::number(gap.y())));
        }
        const int lost = lostFrom(arrivals(net, 150), kLockedS);
        const int filled = int(run.stats.concealedFrames / 512);
        QVERIFY2(
            conceal ? gaps == 0 && filled >= 0.95 * lost && filled <= 1.2 * lost
                    : filled == 0 && std::abs(gaps - lost) <= 0.05 * lost,
            qPrintable(QString("%1 gaps, %2 filled for %3 lost").arg(gaps).arg(filled).arg(lost)));
        const double first = latency(run, 2, 3).least;
        const double early = latency(run, 3, 150).least;
        QVERIFY2(early >= first - 1, qPrintable(QString::asprintf("%g then %g ms", first, early)));
        const Spread held = latency(run, 30, 150, 0.05);
        QVERIFY2(held.most - held.least <= 5,
                 qPrintable(QString::asprintf("latency %g .. %g ms", held.least, held.most)));
        QVERIFY2(run.worstPitchPpm(30) < 50, qPrintable(QString::number(run.worstPitchPpm(30))));
        QVERIFY2(run.thdPlusNoiseDb() < mostThdDb,
                 qPrintable(QString::number(run.thdPlusNoiseDb())));
        QVERIFY2(std::abs(run.stats.skewPpm - 100) <= 50,
                 qPrintable(QString::number(run.stats.skewPpm)));
    }

private:
    // What the card played, as the checks read it.
    struct Run {
        QVector<std::complex<double>> baseband; // the left tone mixed down, a millisecond each
        std::complex<double> mixing;
        double expectedHz = 1000, cardRate = kStreamRate;
        std::int64_t mixed = 0;
        QVector<QPointF> latencyMs; // (s, ms)
        QVector<double> underrunS;
        QVector<double> shortS;
        QVector<QPointF> gapsMs; // (s, ms): silent runs in the tone, after the first sound
        QVector<double> tone;    // the last 2 s, left
        PlayoutStats stats;
        double hostRate = kRate;
        double silentFrames = -1; // in the current silent run; -1 before the first sound
        // The left tone from 30 s on, fitted 10 ms at a time (thdPlusNoiseDb's stretches).
        QVector<double> stretch;
        double toneResidual = 0, toneSignal = 0;

        // The tone at its full level over the cycle's first quarter of its period (a tone's
        // quarter period always holds a sample at 0.7 of its peak), not a filter's ringing out
        // of silence.
        static bool toneAtStart(const QVector<qint16>& out) {
            for (int i = 0; i < 24 && 2 * i < out.size(); ++i)
                if (std::abs(out[2 * i]) > 8000)
                    return true;
            return false;
        }

        // What a cycle took: the latency of its first frame (away from where the position wraps,
        // and not in a transition from silence), the silent runs of the tone, and the tone itself.
        void record(const QVector<qint16>& out, double s, bool keepTone) {
            if (std::abs(out[1]) < 24000 && std::abs(out[3] - out[1]) <= 2 && toneAtStart(out))
                latencyMs << QPointF(s, std::fmod(s * hostRate - out[1] + 32768 * 7, 65536.0) /
                                            hostRate * 1e3);
            for (int i = 0; i < out.size() / 2; ++i) {
                const bool silent = std::abs(out[2 * i]) < 200;
                if (silent && silentFrames >= 0) {
                    ++silentFrames;
                } else if (!silent) {
                    if (silentFrames >= kStreamRate / 2000.0)
                        gapsMs << QPointF(s, silentFrames * 1e3 / kStreamRate);
                    silentFrames = 0;
                }
                if (keepTone)
                    tone << out[2 * i] / 32768.0;
                if (s >= 30 && (stretch << out[2 * i] / 32768.0).size() == kStretch) {
                    fitStretch(stretch.constData(), expectedHz, toneResidual, toneSignal);
                    stretch.clear();
                }
                mixing +=
                    double(out[2 * i]) * std::polar(1.0, -2 * M_PI * expectedHz * mixed / cardRate);
                if (++mixed % (kStreamRate / 1000) == 0)
                    baseband << std::exchange(mixing, 0.0);
            }
        }

        double thdPlusNoiseDb() const { return 10 * std::log10(toneResidual / toneSignal); }

        // The tone's pitch in each 4-s window every 2 s from `fromS` on, as a zero-padded
        // transform's interpolated peak sees it (Hann-windowed), less what the host's clock
        // against the card's makes it: the largest, in ppm.
        double worstPitchPpm(double fromS) const {
            double worst = 0;
            for (int at = int(fromS * 1000); at + 4000 <= baseband.size(); at += 2000) {
                QVector<double> power;
                for (double hz = -0.5; hz <= 0.5; hz += 0.01) {
                    const std::complex<double> turn = std::polar(1.0, -2 * M_PI * hz / 1000);
                    std::complex<double> sum = 0, phasor = 1;
                    for (int m = 0; m < 4000; ++m, phasor *= turn)
                        sum +=
                            (0.5 - 0.5 * std::cos(2 * M_PI * m / 4000)) * baseband[at + m] * phasor;
                    power << std::norm(sum);
                }
                const int k =
                    int(std::max_element(power.begin() + 1, power.end() - 1) - power.begin());
                const double peak = (k - 50 +
                                     0.5 * (power[k - 1] - power[k + 1]) /
                                         (power[k - 1] - 2 * power[k] + power[k + 1])) *
                                    0.01;
                worst = std::max(worst, std::abs(peak / expectedHz * 1e6));
            }
            return worst;
        }
    };

    // The host's datagrams (a 1 kHz tone at -6 dBFS on the left, each frame's position modulo
    // 65536 on the right) arrive through the network into a receiver started at `startS`, whose
    // card takes `period` frames at a time at 96 kHz on its own clock, `cardPpm` fast. The
    // receiver is looked at at every datagram, and when it asks (on a timer of whole milliseconds,
    // set again after each datagram, as the worker's). The latency is from the host frame the card
    // takes to when the host made it.
    static Run simulate(const Network& net, double seconds, double startS = 0, int period = 1024,
                        double cardPpm = 0, const Moments& cardStopsMs = {}, bool conceal = true,
                        int priming = 0, bool haltsWhenDry = false) {
        const QVector<Datagram> trace = arrivals(net, seconds);
        SimulatedCard sink(period, cardPpm, cardStopsMs);
        sink.priming = priming;
        sink.haltsWhenDry = haltsWhenDry;
        Receiver receiver;
        QVector<qint16> frames(2 * net.frames);
        Run run;
        run.hostRate = kRate * (1.0 + net.skewPpm * 1e-6);
        run.expectedHz = 1000 * (1 + net.skewPpm * 1e-6);
        run.cardRate = kStreamRate * (1 + cardPpm * 1e-6);
        int next = 0;
        bool started = false;
        std::int64_t serviceNs = 0;
        for (std::int64_t nowNs = 0; nowNs < seconds * 1e9;) {
            const std::int64_t arrivalNs = next < trace.size() ? trace[next].arrivalNs : INT64_MAX;
            nowNs = sink.nowNs = std::min({arrivalNs, sink.nextCycleNs(), serviceNs});
            const double s = nowNs / 1e9;
            if (!started && s >= startS) {
                receiver.start({kRate, kStreamRate, net.frames, 0, conceal}, &sink);
                started = true;
            }
            if (nowNs == arrivalNs) {
                const Datagram& d = trace[next++];
                for (int i = 0; i < net.frames; ++i) {
                    const std::int64_t n = std::int64_t(d.index) * net.frames + i;
                    frames[2 * i] = qint16(std::lround(16384 * std::sin(M_PI * n / 24)));
                    frames[2 * i + 1] = qint16(n % 65536 - 32768);
                }
                receiver.datagram(frames.constData(), net.frames, nullptr, nowNs);
                if (started)
                    serviceNs = timer(nowNs, receiver.nextServiceNs(nowNs));
            } else if (nowNs == serviceNs) {
                serviceNs = timer(nowNs, receiver.service(nowNs));
                continue;
            } else {
                run.record(sink.cycle(), s, s > seconds - 2);
                if (sink.ranShort && s > startS + 1)
                    run.shortS << s;
            }
            const std::uint64_t underruns = run.stats.underruns;
            run.stats = receiver.stats();
            if (run.stats.underruns != underruns)
                run.underrunS << s;
        }
        return run;
    }

    // The worker's timer at `nowNs` for `wantNs`: whole milliseconds, never later.
    static std::int64_t timer(std::int64_t nowNs, std::int64_t wantNs) {
        return std::max(nowNs + 1000, nowNs + (wantNs - nowNs) / 1'000'000 * 1'000'000);
    }

    // The least and most latency of the cycles from `fromS` to `toS`, leaving out the share
    // `outside` at either end; a window without any fails every check.
    struct Spread {
        double least = 0, most = 1e9;
    };
    static Spread latency(const Run& run, double fromS, double toS, double outside = 0) {
        QVector<double> ms;
        for (const QPointF& at : run.latencyMs)
            if (at.x() >= fromS && at.x() < toS)
                ms << at.y();
        std::sort(ms.begin(), ms.end());
        const auto cut = static_cast<int>(outside * ms.size());
        return ms.isEmpty() ? Spread{} : Spread{ms[cut], ms[ms.size() - 1 - cut]};
    }

    // THD+N of a tone at `hz`: in 10 ms stretches, the power left after taking out the best
    // fitting sine (least squares: what the fit does not project), over the sine's power.
    static double thdPlusNoiseDb(const QVector<double>& x, double hz) {
        double residual = 0, signal = 0;
        for (int at = 0; at + kStretch <= x.size(); at += kStretch)
            fitStretch(x.constData() + at, hz, residual, signal);
        return 10 * std::log10(residual / signal);
    }
};

QTEST_GUILESS_MAIN(TestPlayout)
#include "tst_playout.moc"
