// SPDX-License-Identifier: GPL-3.0-or-later

// The jitter estimator against arrival traces of several kinds of network, in simulated time:
// how many of its datagrams it numbered a loss off (behind or ahead of where the stream settled),
// how far the numbering moved for good, and the fill it asked for. A Markdown table, one row per
// network and seed.
//
//   bench_estimator_traces [seconds (300)] [seeds (2)]
//
// Networks: the host's clock `ppm` fast, datagrams of `frames` at 48000 Hz, each delayed by 1 ms
// and more: uniform up to `jitterMs` or exponential with a mean of `tailMs` (a heavy tail), order
// kept; `lossPercent` of them lost. Figures from 30 s on (the phase has locked by then).
//
//   bench_estimator_traces --dump [seconds (120)]
//
// Every placement instead, for networks that reach each of the estimator's rules (jitter, loss,
// heavy tails, a burst that ends, single late datagrams on a calm link, a floor, a datagram that
// comes twice, a clock that steps back): position, due time, target, skew and lateness after each
// arrival, floating point in hexadecimal, so that two builds' outputs compare to the bit.

#include "jitterestimator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr int kRate = 48000;

struct Network {
    const char* name;
    int frames;
    double ppm, jitterMs, tailMs, lossPercent;
};

struct Figures {
    int lost = 0;
    double misnumberedPercent = 0.0;
    long long movedForGood = 0;
    double targetP50Ms = 0.0, targetP95Ms = 0.0, skewPpm = 0.0;
};

Figures run(const Network& net, double seconds, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    JitterEstimator estimator;
    estimator.reset(kRate, 0);
    Figures f;
    std::vector<long long> offsets; // from 30 s on: where each datagram went, less where it belongs
    std::vector<double> targetsMs;
    double sentS = 0.0, arrivedS = 0.0;
    for (long long k = 0; sentS < seconds; ++k) {
        sentS += net.frames / (kRate * (1 + 1e-6 * net.ppm));
        const double u = uniform(random);
        const double extraMs = net.tailMs > 0 ? -net.tailMs * std::log(1 - u) : u * net.jitterMs;
        if (uniform(random) * 100 < net.lossPercent) {
            f.lost += sentS > 30 ? 1 : 0;
            continue;
        }
        arrivedS = std::max(arrivedS, sentS + 0.001 + extraMs / 1000);
        const JitterEstimator::Placement p =
            estimator.arrival(std::llround(arrivedS * 1e9), net.frames);
        if (sentS > 30) {
            offsets.push_back((p.position - k * net.frames) / net.frames);
            targetsMs.push_back(p.target * 1000.0 / kRate);
        }
    }
    if (offsets.empty())
        return f;
    const long long settled = offsets.back();
    f.misnumberedPercent =
        100.0 *
        std::count_if(offsets.begin(), offsets.end(), [&](long long o) { return o != settled; }) /
        offsets.size();
    f.movedForGood = settled - offsets.front();
    std::sort(targetsMs.begin(), targetsMs.end());
    f.targetP50Ms = targetsMs[targetsMs.size() / 2];
    f.targetP95Ms = targetsMs[targetsMs.size() * 95 / 100];
    f.skewPpm = estimator.skewPpm();
    return f;
}

// A network for the dump: as above, with the jitter (or tail) only from `burstFromS` to
// `burstToS`, the datagrams numbered in `held` held back by so many ms, those in `lost` lost, the
// one numbered `twice` sent twice and the clock stepped back by 20 ms at the one numbered
// `stepBack`.
struct DumpNetwork {
    const char* name;
    int rate, frames, floor;
    double ppm, jitterMs, tailMs, lossPercent;
    double burstFromS = 0, burstToS = 1e9;
    std::map<long long, double> held = {};
    std::set<long long> lost = {};
    long long twice = -1, stepBack = -1;
};

void dump(const DumpNetwork& net, double seconds) {
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    JitterEstimator estimator;
    estimator.reset(net.rate, net.floor);
    std::printf("# %s\n", net.name);
    double sentS = 0.0, arrivedS = 0.0;
    for (long long k = 0; sentS < seconds; ++k) {
        sentS += net.frames / (net.rate * (1 + 1e-6 * net.ppm));
        const bool burst = sentS >= net.burstFromS && sentS < net.burstToS;
        const double u = burst ? uniform(random) : 0.0;
        const double extraMs = net.tailMs > 0 ? -net.tailMs * std::log(1 - u) : u * net.jitterMs;
        if (uniform(random) * 100 < net.lossPercent || net.lost.count(k) > 0)
            continue;
        const auto held = net.held.find(k);
        arrivedS = std::max(arrivedS,
                            sentS + 0.001 +
                                (extraMs + (held != net.held.end() ? held->second : 0.0)) / 1000);
        std::int64_t arrivalNs = std::llround(arrivedS * 1e9) -
                                 (net.stepBack >= 0 && k >= net.stepBack ? 20'000'000 : 0);
        for (int copy = k == net.twice ? 2 : 1; copy > 0; --copy) {
            const JitterEstimator::Placement p = estimator.arrival(arrivalNs, net.frames);
            std::printf("%lld %lld %lld %d %a %a\n", k, static_cast<long long>(p.position),
                        static_cast<long long>(p.dueNs), p.target, estimator.skewPpm(),
                        estimator.latenessMs());
        }
        if (k % 1000 == 0) {
            const JitterEstimator::Placement empty = estimator.arrival(arrivalNs, 0);
            std::printf("empty %lld %d %lld\n", static_cast<long long>(empty.position),
                        empty.target, static_cast<long long>(estimator.nextPosition()));
        }
    }
}

int dumpAll(double seconds) {
    const DumpNetwork networks[] = {
        {"0-20 ms uniform, host 300 ppm fast", 48000, 512, 0, 300, 20, 0, 0},
        {"0-20 ms uniform, 1 % lost, host 100 ppm fast", 48000, 512, 0, 100, 20, 0, 1},
        {"calm, 1 % lost, host 1000 ppm slow", 48000, 512, 0, -1000, 0, 0, 1},
        {"heavy tail (4 ms mean), 1 % lost", 48000, 512, 0, 100, 0, 4, 1},
        {"heavy tail (4 ms mean), 1 % lost, short datagrams", 48000, 240, 0, 0, 0, 4, 1},
        {"heavy tail (8 ms mean), 1 % lost, 44.1 kHz", 44100, 441, 0, -300, 0, 8, 1},
        {"0-50 ms uniform from 20 s to 40 s, host 200 ppm slow", 48000, 240, 0, -200, 50, 0, 0, 20,
         40},
        {"calm, single late datagrams",
         48000,
         240,
         0,
         0,
         0,
         0,
         0,
         0,
         0,
         {{4000, 8}, {5000, 9}, {6250, 8}, {9000, 3}, {9300, 3}, {12500, 8}}},
        {"calm, a floor of ten datagrams, losses one by one and two in a row",
         48000,
         240,
         2400,
         1000,
         0,
         0,
         0,
         0,
         0,
         {},
         {4000, 4200, 4400, 6060, 8000, 8001}},
        {"0-1500 ms uniform", 48000, 240, 0, 0, 1500, 0, 0},
        {"0-20 ms uniform, a datagram twice and the clock stepped back",
         48000,
         512,
         0,
         0,
         20,
         0,
         0.5,
         0,
         1e9,
         {},
         {},
         5000,
         7000},
    };
    for (const DumpNetwork& net : networks)
        dump(net, seconds);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--dump") == 0)
        return dumpAll(argc > 2 ? std::atof(argv[2]) : 120.0);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 300.0;
    const int seeds = argc > 2 ? std::atoi(argv[2]) : 2;
    const Network networks[] = {
        {"0-20 ms uniform, 1 % lost", 512, 100, 20, 0, 1},
        {"0-20 ms uniform, nothing lost", 512, 100, 20, 0, 0},
        {"calm, 1 % lost", 512, -1000, 0, 0, 1},
        {"heavy tail (4 ms mean), nothing lost", 512, 100, 0, 4, 0},
        {"heavy tail (4 ms mean), 1 % lost", 512, 100, 0, 4, 1},
        {"heavy tail (4 ms mean), nothing lost", 240, 0, 0, 4, 0},
        {"heavy tail (4 ms mean), 1 % lost", 240, 0, 0, 4, 1},
        {"heavy tail (8 ms mean), 1 % lost", 512, -300, 0, 8, 1},
        {"0-50 ms uniform, nothing lost", 240, 0, 50, 0, 0},
        {"0-20 ms uniform, 1 % lost", 240, 0, 20, 0, 1},
    };
    std::printf(
        "| network | datagram | host ppm | seed | lost from 30 s | numbered a loss off (%%) "
        "| moved for good | target p50 / p95 (ms) | skew at the end (ppm) |\n"
        "|---|---|---|---|---|---|---|---|---|\n");
    for (const Network& net : networks)
        for (int seed = 1; seed <= seeds; ++seed) {
            const Figures f = run(net, seconds, static_cast<unsigned>(seed));
            std::printf("| %s | %d | %+.0f | %d | %d | %.1f | %lld | %.1f / %.1f | %.1f |\n",
                        net.name, net.frames, net.ppm, seed, f.lost, f.misnumberedPercent,
                        f.movedForGood, f.targetP50Ms, f.targetP95Ms, f.skewPpm);
        }
    return 0;
}
