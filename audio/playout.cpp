// SPDX-License-Identifier: GPL-3.0-or-later

#include "playout.h"

#include "jitterestimator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double kNsPerSecond = 1e9;
constexpr int kChannels = 2;
constexpr size_t kFrameBytes = kChannels * sizeof(qint16);
constexpr std::int64_t kNoSchedule = std::numeric_limits<std::int64_t>::min();
// The ring holds the largest target twice over plus two datagrams: room for a burst of late audio
// on top of a full target, and for the drop bound below.
constexpr double kCapacitySeconds = 2 * JitterEstimator::kMaxTargetSeconds;
// Audio is dropped when the fill passes the target by the target again, and by at least 100 ms:
// further than jitter ever carries it, so only audio that would otherwise take many seconds of
// resampling to give back.
constexpr double kDropHeadroomSeconds = 0.1;
// A schedule this far ahead of the audio that came means the host has gone quiet: the ratio is
// then held rather than steered after audio that is not coming.
constexpr double kStaleScheduleSeconds = 0.5;
// The card's largest burst is held, then forgotten at this rate: a sound server's period does not
// change while a stream runs, but one late wake-up of its thread must not hold latency for good.
constexpr double kBurstDecayPerSecond = 0.001;

} // namespace

Playout::Playout() {
    reset(hostRate, 2 * hostRate, 1, 0);
}

void Playout::reset(int rate, int streamRate, int datagramFrames, std::int64_t position) {
    hostRate = rate;
    nsPerFrame = kNsPerSecond / rate;
    streamFramesPerHostFrame = static_cast<double>(streamRate) / rate;
    ring.reset(static_cast<int>(kCapacitySeconds * rate) + 2 * datagramFrames, position);
    resampler.setup(streamFramesPerHostFrame);
    controller.reset(rate);
    input.ring = &ring;
    pushedEnd = position;
    priming = true;
    heard = false;
    underrunning = false;
    lastPullNs = 0;
    burstFrames = 0;
    burstHold = 0.0;
    pulledSinceSteer = 0.0;
    target = datagramFrames;
    scheduleOriginNs = kNoSchedule;
    for (auto* counter : {&underruns, &underrunFrames, &refusedFrames, &discardedFrames,
                          &lateDatagrams, &lostDatagrams})
        counter->store(0);
    delayMs = 0.0;
    skewPpm = 0.0;
    statsRate = rate;
}

void Playout::push(std::int64_t position, const qint16* frames, int count, std::int64_t dueNs) {
    if (count <= 0)
        return;
    if (position > pushedEnd)
        lostDatagrams += static_cast<quint64>(std::lround((position - pushedEnd) / double(count)));
    pushedEnd = std::max(pushedEnd, position + count);
    const PlayoutRing::Written written = ring.write(position, frames, count);
    if (written.late > 0)
        ++lateDatagrams;
    refusedFrames += static_cast<quint64>(written.refused);
    scheduleOriginNs.store(dueNs - std::llround((position + count) * nsPerFrame),
                           std::memory_order_release);
}

void Playout::setTarget(int frames) {
    target.store(frames, std::memory_order_relaxed);
}

void Playout::pull(qint16* out, int frames, std::int64_t nowNs) {
    const double held = target.load(std::memory_order_relaxed);
    const double wanted = held + cardBurst(nowNs, frames);
    if (burstFrames == frames)
        steer(held);
    const int silent = priming ? primingFrames(nowNs, wanted, frames) : 0;
    std::memset(out, 0, static_cast<size_t>(silent) * kFrameBytes);
    if (silent == frames) {
        pulledSinceSteer = 0.0;
        return;
    }
    dropPastBound(wanted);
    input.missing = 0;
    resampler.produce(out + kChannels * silent, frames - silent, input);
    countUnderrun(input.missing);
    fillAfterPull = scheduledFill(nowNs);
    overdueAfterPull = fillAfterPull - static_cast<double>(ring.fill());
    pulledSinceSteer += frames / streamFramesPerHostFrame;
}

PlayoutStats Playout::stats() const {
    PlayoutStats s;
    s.underruns = underruns;
    s.underrunFrames = underrunFrames;
    s.droppedFrames = refusedFrames + discardedFrames;
    s.lateDatagrams = lateDatagrams;
    s.lostDatagrams = lostDatagrams;
    s.delayMs = delayMs;
    s.skewPpm = skewPpm;
    s.hostRate = statsRate;
    return s;
}

void Playout::RingInput::read(qint16* frames, int count) {
    missing += count - ring->read(frames, count);
}

// Host frames from the read position (and those the resampler holds) to where the host's
// schedule says its audio has reached by now.
double Playout::scheduledFill(std::int64_t nowNs) const {
    const std::int64_t origin = scheduleOriginNs.load(std::memory_order_acquire);
    if (origin == kNoSchedule)
        return 0.0;
    const double scheduledEnd = static_cast<double>(nowNs - origin) / nsPerFrame;
    return scheduledEnd - static_cast<double>(ring.readPosition()) + resampler.staged();
}

// The host frames the card will still take at this moment, after this callback. A sound server
// that runs in periods longer than the stream's callbacks asks for a whole period in callbacks
// back to back: the fill is steered once a burst, with what the burst left, and priming must
// leave room for the rest of the burst, or its last callbacks find their audio not yet come.
double Playout::cardBurst(std::int64_t nowNs, int frames) {
    const double framesNs = frames * nsPerFrame / streamFramesPerHostFrame;
    const std::int64_t sinceNs = nowNs - lastPullNs;
    burstFrames = sinceNs < framesNs / 2 ? burstFrames + frames : frames;
    lastPullNs = nowNs;
    const double decayed = burstHold - kBurstDecayPerSecond * hostRate * sinceNs / kNsPerSecond;
    burstHold = std::max(decayed, burstFrames / streamFramesPerHostFrame);
    return burstHold - burstFrames / streamFramesPerHostFrame;
}

// The frames of this callback to play as silence while priming: all of them until the fill
// passes the target, then those that leave it exactly at the target after the callback, which
// ends the priming.
int Playout::primingFrames(std::int64_t nowNs, double wanted, int frames) {
    if (!heard)
        skipToTarget(nowNs, wanted + frames / streamFramesPerHostFrame);
    const double spare = (scheduledFill(nowNs) - wanted) * streamFramesPerHostFrame;
    const int audible = static_cast<int>(std::clamp(spare, 0.0, static_cast<double>(frames)));
    if (audible > 0) {
        priming = false;
        heard = true;
        controller.settle();
    }
    return frames - audible;
}

// Leaves `keep` host frames: the target, and what this callback plays of it.
void Playout::skipToTarget(std::int64_t nowNs, double keep) {
    const std::int64_t excess = std::llround(scheduledFill(nowNs) - keep);
    if (excess > 0)
        ring.discardOldest(std::max<std::int64_t>(ring.fill() - excess, 0));
}

void Playout::dropPastBound(double wanted) {
    const double bound = wanted + std::max(wanted, kDropHeadroomSeconds * hostRate);
    if (static_cast<double>(ring.fill()) <= bound)
        return;
    discardedFrames += static_cast<quint64>(ring.discardOldest(std::llround(wanted)));
    controller.settle();
}

// Callbacks in a row that find audio missing are one underrun.
void Playout::countUnderrun(int missing) {
    if (missing == 0) {
        underrunning = false;
        return;
    }
    if (!underrunning)
        ++underruns;
    underrunning = true;
    underrunFrames += static_cast<quint64>(missing);
    priming = true;
}

// Once a burst of the card's callbacks, with the fill they left: between the callbacks of one
// burst the fill only steps down by what each took, which is no news of the clocks.
void Playout::steer(double wanted) {
    const double pulled = pulledSinceSteer;
    pulledSinceSteer = 0.0;
    if (pulled <= 0.0 || overdueAfterPull > kStaleScheduleSeconds * hostRate)
        return;
    const double correction = controller.update(fillAfterPull, pulled, wanted);
    resampler.setRatio(streamFramesPerHostFrame / (1.0 + correction));
    delayMs.store(controller.smoothedFill() * 1000.0 / hostRate, std::memory_order_relaxed);
    skewPpm.store(controller.skewPpm(), std::memory_order_relaxed);
}
