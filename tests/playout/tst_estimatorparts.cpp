// SPDX-License-Identifier: GPL-3.0-or-later

// The jitter estimator's parts, each on the rules it owns; the estimator on whole arrival traces is
// tst_playout's `estimator`. Each row is a script and, after " = ", what it comes to.

#include "latenesswindow.h"
#include "lossfinder.h"
#include "movingquantile.h"
#include "outagefinder.h"
#include "schedulefit.h"
#include "targetpolicy.h"

#include <QtTest>

#include <cmath>
#include <limits>

static constexpr int kRate = 48000;
static constexpr double kNsPerMs = 1e6;

// The tokens of a script up to " = ", each "txN" as N times t; "|" closes a block.
template <typename Add, typename Close>
static void play(const QString& script, Add add, Close close) {
    for (const QString& token : script.section(" = ", 0, 0).split(' ', Qt::SkipEmptyParts)) {
        for (int i = 0; i < token.section('x', 1).toInt() || i == 0; ++i)
            token == "|" ? close() : add(token.section('x', 0, 0));
    }
}

class TestEstimatorParts : public QObject {
    Q_OBJECT

private slots:
    // Over the last three blocks, in bins of 1: a quantile is the upper edge of its bin, across
    // blocks; a block's values leave the window three closes on, and the highest is then the
    // highest left; values beyond the bins count in the last, below them in the first.
    // Result: the window's quantile, how many are 3 or more and in all; the last closed block's
    // highest.
    void movingQuantile_data() {
        QTest::addColumn<double>("quantile");
        QTest::addColumn<QString>("script");
        QTest::newRow("median across blocks") << 0.5 << "1 2 | 3 4 | 5 = 4 3 5 5";
        QTest::newRow("the highest, just added") << 1.0 << "1 5 = 6 1 2 0";
        QTest::newRow("a block leaves the window") << 1.0 << "9 | 1 | 2 | 3 = 4 1 3 3";
        QTest::newRow("the highest after removal") << 1.0 << "1 9 | 2 | 8 | 3 | = 9 2 2 4";
        QTest::newRow("beyond the bins") << 1.0 << "5000 -3 = 1001 1 2 0";
        QTest::newRow("nothing counted") << 0.99 << "| | = 0 0 0 0";
    }
    void movingQuantile() {
        QFETCH(double, quantile);
        QFETCH(QString, script);
        MovingQuantile q({3, 1.0});
        play(
            script, [&](const QString& v) { q.add(v.toDouble(), q.openBlock()); },
            [&] { q.closeBlock(); });
        const MovingQuantile::Histogram& all = q.window();
        QCOMPARE(QString("%1 %2 %3 %4")
                     .arg(all.quantile(quantile))
                     .arg(all.countFrom(3))
                     .arg(all.total())
                     .arg(q.block(1).quantile(1)),
                 script.section(" = ", 1));
    }

    // Lateness over three blocks: "v?" may follow a loss not yet placed and waits, with those
    // after it (two at most), for a sure one; "L" places a loss of 10 meanwhile. Result: the
    // latest counted (the upper edge of its bin of 1) and how many in all.
    void latenessWindow_data() {
        QTest::addColumn<QString>("script");
        QTest::newRow("unsure ones wait for a sure one") << "2 15? 14? = 3 1";
        QTest::newRow("and then count as they were") << "2 15? 1 = 16 3";
        QTest::newRow("a period less for a loss placed") << "2 15? 14? L 1 = 6 4";
        QTest::newRow("dropped with the block they came in") << "15? | | | 1 = 2 1";
        QTest::newRow("beyond the room for them, counted at once") << "15? 14? 13? = 16 3";
    }
    void latenessWindow() {
        QFETCH(QString, script);
        LatenessWindow window({{3, 1.0}, 0.99, 2});
        play(
            script,
            [&](QString v) {
                const bool sure = !v.endsWith('?');
                v == "L" ? window.lossPlaced(10) : window.count(v.remove('?').toDouble(), sure);
            },
            [&] { window.closeBlock(); });
        QCOMPARE(QString("%1 %2").arg(window.latestNs()).arg(window.counted().window().total()),
                 script.section(" = ", 1));
    }

    // Datagrams of 10 ms every 10 ms, on time but for "s:ms" (the one sent at s seconds that
    // late; "s:msxN" N in a row); "u" the window's usual lateness (ms), "f" the floor (frames),
    // "Ls" a loss found and "Ps" one placed at s seconds. Result: "s:ms", the target at s seconds.
    // Steady: a datagram, the usual lateness, 3 ms of margin and 3 of headroom; lateness covered
    // once it recurs within 10 s (the lesser of the two) or outlasts its queue; held 10 s after it
    // grew, then given back at 2 ms a second; a datagram more for 10 s after a loss is found.
    void targetPolicy_data() {
        QTest::addColumn<QString>("script");
        QTest::newRow("steady") << "u4 = 1:20";
        QTest::newRow("a lone outlier, not covered") << "5:20 = 5.5:16";
        QTest::newRow("recurring within the hold, the lesser covered") << "5:8 8:12 = 8.5:21";
        QTest::newRow("outlasting its queue, held, given back")
            << "5:30x10 = 5.5:43 15:43 16.1:41 40:16";
        QTest::newRow("a placed loss lets it go at once") << "5:30x10 P6 = 7:41";
        QTest::newRow("the loss margin") << "L5 = 6:26 16:24";
        QTest::newRow("the floor") << "f1200 = 1:25";
        QTest::newRow("the 500 ms bound") << "u600 = 1:500";
    }
    void targetPolicy() {
        QFETCH(QString, script);
        QMap<int, double> lateMs; // by datagram
        QMap<QChar, double> set;
        play(
            script,
            [&](const QString& e) {
                if (e[0].isLetter()) {
                    set[e[0]] = e.mid(1).toDouble();
                    return;
                }
                int k = qRound(e.section(':', 0, 0).toDouble() * 100);
                while (lateMs.contains(k))
                    ++k;
                lateMs[k] = e.section(':', 1).toDouble();
            },
            [] {});
        TargetPolicy policy;
        policy.reset(kRate, int(set.value('f')));
        std::int64_t lossNs = std::numeric_limits<std::int64_t>::min() / 2;
        QStringList targets;
        int k = 0;
        for (const QString& at : script.section(" = ", 1).split(' ')) {
            for (; k <= qRound(at.section(':', 0, 0).toDouble() * 100); ++k) {
                const std::int64_t nowNs = std::llround((k * 10 + lateMs.value(k)) * kNsPerMs);
                if (qRound(set.value('L', -1) * 100) == k)
                    lossNs = nowNs;
                if (qRound(set.value('P', -1) * 100) == k)
                    policy.lossPlaced();
                policy.update(nowNs, lateMs.value(k) * kNsPerMs, 480, set['u'] * kNsPerMs, lossNs);
            }
            targets << at.section(':', 0, 0) + ":" +
                           QString::number(qRound(policy.frames() / 48.0));
        }
        QCOMPARE(targets.join(' '), script.section(" = ", 1));
    }

    // A window of lateness in ms, then after ">" datagrams of 10 ms, 10 ms apart, that late as
    // numbered, and closed blocks "bL/M" (the losses before it and the datagrams the stream had
    // moved on by then; "~" off the phase), the last two judged at "|". Result: where the stream
    // moves ("+i" on, "-i" back, before or at the i-th datagram). A calm link: three in a row as
    // late as the same whole periods. A jittery one: a datagram later by a quarter period than the
    // window's latest, at once where the tail is light and a period on where it is heavy; a run of
    // unsure ones as long as jitter makes once in 10 000, once two blocks have been jittery; a
    // datagram a quarter period early soon after a move takes it back. Two blocks at the phase
    // that agree on losses (the fewer of the two), a datagram at a time; back for a stream counted
    // ahead.
    void lossFinder_data() {
        QTest::addColumn<QString>("script");
        QTest::newRow("calm: three a period late") << "0.2x100 | > 10.1x3 = +2";
        QTest::newRow("calm: two periods, a move at a time") << "0.2x100 | > 20.1x3 0 = +2 +3";
        QTest::newRow("calm: late by any amount is jitter") << "0.2x100 | > 13 14 13 = ";
        QTest::newRow("light tail: beyond the latest, then back") << "5x100 | > 8.5 -3 = +0 -1";
        QTest::newRow("as late as the latest is jitter") << "5x100 | > 7.6 0 = ";
        QTest::newRow("heavy tail: confirmed a period on") << "5x99 9 | 5x99 9 | > 12.5 12 = +1";
        QTest::newRow("heavy tail: a sure one after") << "5x99 9 | 5x99 9 | > 12.5 3 12 = ";
        QTest::newRow("a run of unsure ones") << "5x50 8x50 | 5x50 8x50 | > 9x20 = +15";
        QTest::newRow("no run while jitter sets in") << "0.2x100 | 5x50 8x50 | > 9x20 = ";
        QTest::newRow("two blocks agree on two losses") << "> b2/0 b2/0 | 0x3 = +0 +1";
        QTest::newRow("on the fewer of the two") << "> b3/0 b1/0 | 0x3 = +0";
        QTest::newRow("one off the phase") << "> b2/0~ b2/0 | 0x3 = ";
        QTest::newRow("a stream counted ahead moves back") << "> b-1/0 b-1/0 | 0x3 = -0";
    }
    void lossFinder() {
        QFETCH(QString, script);
        LatenessWindow window;
        LossFinder losses;
        QStringList moves;
        std::vector<ScheduleFit::Block> blocks;
        int i = -1; // the datagram, once the window is there
        auto datagram = [&](double lateMs) {
            const std::int64_t nowNs = std::llround((1000 + i * 10) * kNsPerMs);
            for (int step : {losses.takeMove(),
                             losses.datagram(nowNs, lateMs * kNsPerMs, 10 * kNsPerMs, window)})
                if (step != 0)
                    moves << QString("%1%2").arg(step > 0 ? "+" : "-").arg(i);
            ++i;
        };
        play(
            script,
            [&](const QString& v) {
                if (v == ">") {
                    i = 0;
                } else if (v[0] == 'b') {
                    blocks.emplace_back();
                    blocks.back().lostBefore = v.section('/', 0, 0).mid(1).toInt();
                    blocks.back().movedAt = v.section('/', 1).remove('~').toInt();
                    blocks.back().calm = !v.endsWith('~');
                } else if (i < 0) {
                    window.count(v.toDouble() * kNsPerMs, true);
                } else {
                    datagram(v.toDouble());
                }
            },
            [&] { i < 0 ? window.closeBlock() : losses.blocksClosed(blocks, 0); });
        QCOMPARE(moves.join(' '), script.section(" = ", 1));
    }

    // Datagrams of 10 ms from a host `ppm` fast, every `lostEvery`-th lost, in blocks of half a
    // second each at the phase (".") or lifted a third or two of a period ("x", "y"): the line's
    // slope is the host's within 0.1 ppm; the schedule locks to a phase three quarters of 24
    // blocks share and lets it go below half; locked, the last 20 blocks show the losses among
    // them.
    void scheduleFit_data() {
        QTest::addColumn<double>("ppm");
        QTest::addColumn<int>("lostEvery");
        QTest::addColumn<QString>("blocks");
        QTest::addColumn<bool>("settled");
        QTest::newRow("host 1000 ppm slow, a datagram lost every second")
            << -1000.0 << 100 << QString(60, '.') << true;
        QTest::newRow("three quarters at the phase lock")
            << 0.0 << 0 << QString("...x").repeated(15) << true;
        QTest::newRow("two thirds do not") << 0.0 << 0 << QString("..x").repeated(20) << false;
        QTest::newRow("locked, half hold it")
            << 0.0 << 0 << QString(30, '.') + QString(".x").repeated(48) << true;
        QTest::newRow("locked, fewer than half let it go")
            << 0.0 << 0 << QString(30, '.') + QString(".xy").repeated(32) << false;
    }
    void scheduleFit() {
        QFETCH(double, ppm);
        QFETCH(int, lostEvery);
        QFETCH(QString, blocks);
        ScheduleFit fit;
        fit.reset(kRate, 500'000'000, 0);
        const double periodS = 480 / (kRate * (1 + ppm * 1e-6));
        std::int64_t received = 0;
        QVector<std::int64_t> lostBefore{0};
        for (int k = 0; k < 50 * blocks.size(); ++k) {
            if (lostEvery > 0 && k % lostEvery == lostEvery - 1) {
                ++lostBefore.last();
            } else {
                const double liftS = QString(".xy").indexOf(blocks[k / 50]) * periodS / 3;
                const std::int64_t nowNs = std::llround((k * periodS + 0.001 + liftS) * 1e9);
                if (received == 0)
                    fit.start(nowNs);
                fit.add(fit.pointFor(++received * 480, nowNs), 0, 480);
            }
            if (k % 50 == 49) {
                fit.closeBlock();
                lostBefore << lostBefore.last();
            }
        }
        QTEST(fit.settled(), "settled");
        // Unlocked, the least squares through every block: the lifted ones tilt it by a ppm.
        const double skew = ppm / (1 + ppm * 1e-6); // the host's period against the nominal
        QVERIFY2(std::abs(fit.skewPpm() - skew) < (fit.settled() ? 0.1 : 2),
                 qPrintable(QString::number(fit.skewPpm())));
        const auto& judged = fit.blocks();
        QCOMPARE(judged.back().lostBefore - judged[judged.size() - 21].lostBefore,
                 lostBefore[lostBefore.size() - 3] - lostBefore[lostBefore.size() - 23]);
    }

    // Arrivals "gap:lateness" (ms; datagrams of 10 ms, usual lateness 5 ms, 30 ms held). Result:
    // the datagrams that were not flowing on, each a backlog left out of the lateness (b) or
    // counted (B), or a jump of N datagrams; then the stalls ridden out and covered.
    void outageFinder_data() {
        QTest::addColumn<QString>("script");
        const QString stall = "10:0x100 310:300 0.1:290 0.1:280 10:0 ";
        QTest::newRow("jitter") << "10:0 10:5 60:40 10:0 = 0/0";
        QTest::newRow("no longer than the fill held") << "10:0 90:80 = 0/0";
        QTest::newRow("a stall ridden out") << stall + "= b b b 1/0";
        QTest::newRow("the fourth stall within 50 s, covered")
            << stall + "10:0x1600 " + stall.repeated(3) + "= " + QString("b b b ").repeated(3) +
                   "b B B 3/1";
        QTest::newRow("a pause, the stream carries on") << "10:0 2000:2000 10:2005 = b 200 0/0";
    }
    void outageFinder() {
        QFETCH(QString, script);
        OutageFinder outages;
        std::int64_t atNs = 0;
        QStringList verdicts;
        play(
            script,
            [&](const QString& token) {
                atNs += std::llround(token.section(':', 0, 0).toDouble() * kNsPerMs);
                const auto v = outages.datagram(atNs, token.section(':', 1).toDouble() * kNsPerMs,
                                                10 * kNsPerMs, 30 * kNsPerMs, 5 * kNsPerMs);
                if (v.jump || v.backlog)
                    verdicts << (v.jump ? QString::number(v.jump) : v.counted ? "B" : "b");
            },
            [] {});
        verdicts << QString("%1/%2").arg(outages.stalls()).arg(outages.stallsCovered());
        QCOMPARE(verdicts.join(' '), script.section(" = ", 1));
    }
};

QTEST_GUILESS_MAIN(TestEstimatorParts)
#include "tst_estimatorparts.moc"
