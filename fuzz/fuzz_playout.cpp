// SPDX-License-Identifier: GPL-3.0-or-later
// The receive path under any arrival trace: bursts, clock jumps back and forth, datagrams of any
// size (empty and huge), the same datagram twice, long silences, the card looked at any time; and
// the drift controller alone under any cycle and measured skew. It aborts when the target leaves
// its bounds, a figure is not finite, the controller's correction passes the largest skew it was
// given, the card is asked to take more than it said it has room for, the ring's room is exceeded,
// or the playout asks to be looked at in the past.
#include "driftcontroller.h"
#include "jitterestimator.h"
#include "playbacksink.h"
#include "receiver.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kHostRate = 48000;
constexpr int kMaxFrames = 8192;

// A card that takes a period whenever it is looked at after its cycle came.
class Card : public PlaybackSink {
public:
    long writable() override { return kRoom - held; }
    void write(const std::int16_t*, long count) override {
        if (count < 0 || count > kRoom - held)
            std::abort();
        held += count;
    }
    void cycle() { held = std::max(0L, held - 2048); }

private:
    static constexpr long kRoom = 96000;
    long held = 0;
};

void check(double value, double low, double high) {
    if (!std::isfinite(value) || value < low || value > high)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<std::int16_t> frames(2 * kMaxFrames);
    // Kept from input to input, so that each starts them afresh as a new stream does.
    static Card card;
    static Receiver receiver;
    static JitterEstimator estimator;
    static DriftController controller;
    card = Card();
    controller.reset(kHostRate);
    const int datagram = size > 0 ? 1 + data[0] % 1024 : 240;
    receiver.start({kHostRate, 2 * kHostRate, datagram, 0}, &card);
    estimator.reset(kHostRate, 0);
    std::int64_t nowNs = 0;
    // Each record: an operation, and two bytes of argument.
    for (size_t at = 1; at + 3 <= size; at += 3) {
        const std::uint16_t argument = static_cast<std::uint16_t>(data[at + 1] | data[at + 2] << 8);
        switch (data[at] % 7) {
        case 0: // time passes: up to 65 ms
            nowNs += argument * 1000LL;
            break;
        case 1: // a long silence, or the clock jumps back
            nowNs += (argument & 1 ? 1 : -1) * std::int64_t(argument) * 1'000'000LL;
            break;
        case 2: // a datagram of the usual size, or of any
        case 3: {
            const int count = data[at] % 7 == 2 ? datagram : argument % (kMaxFrames + 1);
            receiver.datagram(frames.data(), count, nullptr, nowNs);
            const JitterEstimator::Placement placed = estimator.arrival(nowNs, count);
            if (count > 0)
                check(placed.target, count,
                      std::max<double>(count, kHostRate * JitterEstimator::kMaxTargetSeconds));
            break;
        }
        case 4: // looked at when it asks or at once; it never asks for a moment gone by
            if (receiver.service(nowNs) < nowNs || receiver.nextServiceNs(nowNs) < nowNs)
                std::abort();
            break;
        case 5: { // any cycle's length, any measured skew within +-3300 ppm, any error up to 255
                  // ppm
            const double skew = static_cast<std::int16_t>(argument) * 1e-7;
            const double error = (argument >> 8) * 1e-6;
            check(controller.update(1 + argument % 4096, skew, error), -0.0033, 0.0033);
            break;
        }
        default:
            card.cycle();
        }
    }
    // The skew shown is the host's clock (within 2000 ppm of the system's) over the card's (a card
    // more than 0.5 % off is no clock); the target's bound bounds the jitter covered.
    check(receiver.stats().skewPpm, -7100, 7100);
    check(receiver.stats().jitterMs, 0, 1e6);
    check(receiver.stats().correctionPpm, -7100, 7100);
    return 0;
}
