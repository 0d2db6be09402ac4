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

#include "jitterestimator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
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

} // namespace

int main(int argc, char** argv) {
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
