// SPDX-License-Identifier: GPL-3.0-or-later

#include "playout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double kNsPerSecond = 1e9;
constexpr int kChannels = 2;
// The largest target, and the ring's room: the largest target twice over plus two datagrams, for
// a card not yet attached (a speaker still opening) and a burst of audio on top of a full target.
constexpr double kMaxTargetSeconds = 0.5;
constexpr double kCapacitySeconds = 2 * kMaxTargetSeconds;
// The card is given no more than the target, the period it takes next, two datagrams (the stream
// moved on as a loss is placed) and 10 ms (the fill's scatter around its target): a card that
// stops for a while holds no more than that when it plays again, and the rest waits in the ring,
// where a splice can take it out.
constexpr double kCardMarginSeconds = 0.01;
// A schedule this far behind the card means the host has gone quiet: the ratio is then held
// rather than steered after audio that is not coming.
constexpr double kStaleScheduleSeconds = 0.5;
// A splice waits for the ring to hold the audio around its seam; one the ring has not given
// within this long is let go, and the keeper judges the fill afresh.
constexpr std::int64_t kMovePatienceNs = 1'000'000'000;
// A host's clock, while its schedule says nothing closer (jitter from the stream's start), is
// taken as nominal give or take what a real one is off by: the card's clock is followed meanwhile.
constexpr double kUnmeasuredHostPpm = 100.0;
// The card is looked at a millisecond before each of its cycles, so that a cycle whose audio has
// not come can still be filled in time, and a millisecond after, so that when its cycles come is
// known to those two milliseconds on the card's own clock; the worker's timer fires to the
// millisecond and no later than asked, so a look may come up to a millisecond earlier still. The
// target's margin covers the audio still to come before the cycle.
constexpr std::int64_t kGuardNs = 1'000'000;
constexpr std::int64_t kTimerNs = 1'000'000;
// Once the audio plays on a settled clock, a cycle the card already holds audio for needs no
// look before it, but every fourth, whose look bounds the cycles' times from below (the looks
// after each cycle bound them from above): each wake of the worker costs more than what it does.
constexpr std::int64_t kTimedCycles = 4;
// Until its first cycle is seen, the card is looked at every 5 ms and given two datagrams' worth
// of silence to start on, twice that whenever it has held what it was given for 40 ms without
// starting (a card that starts only on a fuller buffer).
constexpr std::int64_t kStartLookNs = 5'000'000;
constexpr std::int64_t kStartPatienceNs = 40'000'000;
constexpr long kScratchFrames = 2048;
// Audio that has come wholly too late for this long has lost its place in the stream: a stall's
// backlog comes in far less.
constexpr std::int64_t kLostPlaceNs = 250'000'000;
// The longest datagram whose start is checked for a break in the audio, in datagrams.
constexpr int kCheckedDatagrams = 4;

} // namespace

Playout::Playout() {
    reset(hostRate, streamRate, 1, 0);
}

void Playout::reset(int rate, int stream, int datagramFrames, std::int64_t position,
                    bool concealing) {
    hostRate = rate;
    streamRate = stream;
    datagram = std::max(1, datagramFrames);
    conceal = concealing;
    nsPerFrame = kNsPerSecond / rate;
    nominalRatio = ratio = static_cast<double>(stream) / rate;
    ring.reset(static_cast<int>(kCapacitySeconds * rate) + 2 * datagram, position);
    resampler.setup(nominalRatio, hostRate);
    controller.reset(rate);
    keeper.reset(rate);
    reader.reset(&ring, rate, conceal);
    breakDetector.reset(kCheckedDatagrams * datagram);
    checkedAudio.resize(
        std::size_t(kChannels * (breakDetector.fitFrames() + kCheckedDatagrams * datagram)));
    scratch.resize(kChannels * kScratchFrames);
    target = datagram;
    hostPpm = 0.0;
    hostErrorPpm = std::numeric_limits<double>::infinity();
    fillError = 0.0;
    scheduled = false;
    pushedEnd = position;
    for (auto* counter : {&underruns, &underrunFrames, &droppedFrames, &lateDatagrams,
                          &lostDatagrams, &concealedFrames, &scaledFrames})
        counter->store(0);
    delayMs = cardPpm = periodMs = correctionPpm = 0.0;
    statsRate = rate;
    attach(nullptr);
}

void Playout::attach(PlaybackSink* card) {
    sink = card;
    cardClock.reset(streamRate);
    written = steeredTaken = steeredCycleNs = 0;
    capacity = fillNow = 0;
    startFrames = std::lround(2 * datagram * nominalRatio);
    startHeldSinceNs = firstLookNs = -1;
    playing = underrunning = cardFailed = false;
    behindSinceNs = -1;
    reader.waitRoom = 0;
    if (!sink)
        return;
    capacity = sink->writable();
    cardFailed = capacity < 0;
}

void Playout::push(std::int64_t position, const std::int16_t* frames, int count, std::int64_t dueNs,
                   std::int64_t nowNs) {
    if (count <= 0)
        return;
    if (position > pushedEnd)
        lostDatagrams +=
            static_cast<std::uint64_t>(std::lround((position - pushedEnd) / double(count)));
    pushedEnd = std::max(pushedEnd, position + count);
    refindIfLost(position, count, nowNs);
    // Until the audio starts nothing reads the ring (a card that takes nothing yet, as a busy
    // server links a new stream late): the oldest goes, as the start would skip it anyway.
    if (!playing)
        ring.discardOldest(ring.capacity() - count);
    const PlayoutRing::Written result = ring.write(position, frames, count);
    if (result.late > 0)
        ++lateDatagrams;
    droppedFrames += static_cast<std::uint64_t>(result.late + result.refused);
    scheduleOriginNs = dueNs - std::llround((position + count) * nsPerFrame);
    scheduled = true;
    lastDueNs = dueNs;
    if (!sink || cardFailed)
        return;
    look(nowNs);
    if (cardFailed)
        return;
    if (playing)
        writeAudio();
    else
        startAudio(nowNs);
}

// Audio that keeps coming wholly behind what the card has already been given has lost its place:
// the stream stands further on than the schedule put it (losses the schedule could not yet count
// while it locked), and every datagram would be skipped for good. For a while that is a backlog's
// tail or a burst's; beyond it, the audio starts afresh where the schedule now puts it.
void Playout::refindIfLost(std::int64_t position, int count, std::int64_t nowNs) {
    if (!playing || position + count > ring.readPosition()) {
        behindSinceNs = -1;
        return;
    }
    if (behindSinceNs < 0)
        behindSinceNs = nowNs;
    if (nowNs - behindSinceNs < kLostPlaceNs)
        return;
    behindSinceNs = -1;
    playing = underrunning = false;
    ring.reset(ring.capacity(), position);
}

void Playout::setTarget(int frames) {
    target = frames;
}

// The predictor is fitted to the audio just before: its whole stretch, or where a loss lies in
// that (two losses close together), the datagram just before.
bool Playout::breaksAt(std::int64_t position, const std::int16_t* frames, int count) {
    int fit = breakDetector.fitFrames();
    if (!ring.cameAll(position - fit, fit))
        fit = std::min(fit, datagram);
    if (count > kCheckedDatagrams * datagram || !ring.cameAll(position - fit, fit))
        return false;
    ring.peekAt(position - fit, checkedAudio.data(), fit);
    std::copy(frames, frames + kChannels * count, checkedAudio.begin() + kChannels * fit);
    return breakDetector.breaks(checkedAudio.data(), fit, count);
}

std::int64_t Playout::service(std::int64_t nowNs) {
    if (!sink || cardFailed)
        return nowNs + kStartLookNs;
    look(nowNs);
    if (cardFailed)
        return nowNs + kStartLookNs;
    if (playing)
        writeAudio();
    else
        startAudio(nowNs);
    keepCardFed(nowNs);
    return nextServiceNs(nowNs);
}

// Looked at just before a cycle (to feed it) and just after (to see when it came).
std::int64_t Playout::nextServiceNs(std::int64_t nowNs) const {
    if (!sink || cardFailed || !cardClock.known())
        return nowNs + kStartLookNs;
    const std::int64_t periodNs = cardClock.periodNs();
    const long period = std::max(1L, cardClock.periodFrames());
    std::int64_t cycle = cardClock.nextCycleNs();
    std::int64_t index = cardClock.cyclesSeen() + 1;
    // Cycles gone by unseen each took a period.
    const std::int64_t gone = cycle + kGuardNs - kTimerNs <= nowNs
                                  ? (nowNs - cycle - kGuardNs + kTimerNs) / periodNs + 1
                                  : 0;
    cycle += gone * periodNs;
    index += gone;
    const std::int64_t held = fillNow - gone * period;
    if (nowNs >= cycle - kGuardNs - kTimerNs)
        return held < period ? nowNs : cycle + kGuardNs;
    const bool timed = !playing || !cardClock.settled() || index % kTimedCycles == 0;
    return timed || held < period ? cycle - kGuardNs : cycle + kGuardNs;
}

PlayoutStats Playout::stats() const {
    PlayoutStats s;
    s.underruns = underruns;
    s.underrunFrames = underrunFrames;
    s.droppedFrames = droppedFrames;
    s.concealedFrames = concealedFrames;
    s.scaledFrames = scaledFrames;
    s.correctionPpm = correctionPpm;
    s.lateDatagrams = lateDatagrams;
    s.lostDatagrams = lostDatagrams;
    s.delayMs = delayMs;
    s.hostRate = statsRate;
    s.cardLatencyMs = periodMs;
    return s;
}

// The host frames the schedule says the host had sent by `atNs`.
double Playout::scheduledEnd(std::int64_t atNs) const {
    return static_cast<double>(atNs - scheduleOriginNs) / nsPerFrame;
}

// The host position the next frame written to the card stands for.
double Playout::hostAtOutput() const {
    return static_cast<double>(reader.position()) - resampler.inputAhead();
}

// The host position the card has reached: what it still holds stands for the host frames before
// the next one written.
double Playout::hostAtCard() const {
    return hostAtOutput() - fillNow / ratio;
}

// What the card holds now, what it has taken in all, and, at each of its cycles, the steering.
void Playout::look(std::int64_t nowNs) {
    const long room = sink->writable();
    if (room < 0) {
        cardFailed = true;
        return;
    }
    fillNow = capacity - room;
    if (firstLookNs < 0)
        firstLookNs = nowNs;
    cardClock.look(nowNs, written - fillNow);
    if (playing && cardClock.known() && cardClock.lastCycleNs() != steeredCycleNs)
        steer(nowNs);
}

// Once a cycle of the card, with the fill it left: between its cycles the card takes nothing, so
// right after one is where the fill is least and says the most. The ratio follows the clocks;
// the fill, where it has strayed, is moved by a splice.
void Playout::steer(std::int64_t nowNs) {
    const std::int64_t taken = cardClock.taken();
    const double pulled = static_cast<double>(taken - steeredTaken) / nominalRatio;
    const std::int64_t cycleNs = cardClock.lastCycleNs();
    steeredTaken = taken;
    steeredCycleNs = cycleNs;
    if (pulled <= 0.0 || cycleNs - lastDueNs > kStaleScheduleSeconds * kNsPerSecond)
        return;
    const double fill = scheduledEnd(cycleNs) - hostAtCard();
    followClocks(pulled);
    keepFill(fill - target, pulled, nowNs);
    delayMs.store(fill * 1000.0 / hostRate, std::memory_order_relaxed);
    cardPpm.store(cardClock.clockPpm(), std::memory_order_relaxed);
    periodMs.store(static_cast<double>(cardClock.periodNs()) / 1e6, std::memory_order_relaxed);
}

// The ratio follows the host's clock against the card's, as measured.
void Playout::followClocks(double pulled) {
    const bool hostMeasured = hostErrorPpm < kUnmeasuredHostPpm;
    const double host = hostMeasured ? hostPpm : 0.0;
    const double hostError = hostMeasured ? hostErrorPpm : kUnmeasuredHostPpm;
    const double skew = (1.0 + host * 1e-6) / (1.0 + cardClock.clockPpm() * 1e-6) - 1.0;
    const double error = std::hypot(hostError, cardClock.clockErrorPpm()) * 1e-6;
    const double correction = controller.update(pulled, skew, error);
    ratio = nominalRatio / (1.0 + correction);
    resampler.setRatio(ratio);
    correctionPpm.store(correction * 1e6, std::memory_order_relaxed);
}

// The fill, off its target by `error` after a cycle of `pulled` host frames, moved by a splice
// where the keeper asks; one the ring does not give within a second is let go.
void Playout::keepFill(double error, double pulled, std::int64_t nowNs) {
    fillError = error;
    if (reader.moving() && nowNs - moveAskedNs > kMovePatienceNs) {
        reader.moveLatency(0);
        keeper.moved();
    }
    const int move = reader.moving() ? 0 : keeper.update(error, target, pulled / hostRate);
    if (move != 0) {
        reader.moveLatency(move);
        moveAskedNs = nowNs;
    }
    reader.splice();
}

// Everything that has come, as far as the resampler can go without reading past it and the card
// may hold: a card that stalls (a sound server busy with another client) is not filled with audio
// that a splice could then not reach. While a splice waits for its seam's audio, the card is given
// only what its next cycle takes, so that the audio gathers in the ring.
void Playout::writeAudio() {
    const double ahead =
        static_cast<double>(ring.writePosition()) - hostAtOutput() - resampler.lookahead();
    const double room = reader.moving() ? static_cast<double>(cardClock.periodFrames() - fillNow)
                                        : cardBound() * ratio - fillNow;
    const long frames = std::min({static_cast<long>(std::floor(ahead * ratio)),
                                  static_cast<long>(std::floor(room)), capacity - fillNow});
    if (frames <= 0)
        return;
    writeOut(frames, true);
    underrunning = false;
    reader.waitRoom =
        static_cast<int>(std::clamp(-fillError, 0.0, double(std::max(target, datagram))));
}

// Before the card's next cycle it must hold what the cycle takes: what has not come is played as
// silence. Before its first cycle, it is given silence to start on, and until its cycles settle no
// less than that before each: its first cycle may have taken less than a period (a server
// resampling the stream primes its resampler), and a stream that ran dry starts again only once
// it holds a period (ALSA's start threshold), which a first cycle's step would never give it.
void Playout::keepCardFed(std::int64_t nowNs) {
    if (!cardClock.known()) {
        if (fillNow >= startFrames && startHeldSinceNs < 0)
            startHeldSinceNs = nowNs;
        if (startHeldSinceNs >= 0 && nowNs - startHeldSinceNs > kStartPatienceNs) {
            startFrames = std::min(2 * startFrames, capacity / 2);
            startHeldSinceNs = -1;
        }
        if (fillNow < startFrames)
            writeOut(startFrames - fillNow, playing);
        return;
    }
    if (nowNs < cardClock.nextCycleNs() - kGuardNs - kTimerNs)
        return;
    const long need = cardClock.settled() ? cardClock.periodFrames()
                                          : std::max(cardClock.periodFrames(), startFrames);
    if (fillNow < need)
        writeOut(need - fillNow, playing);
}

// The audio starts, once the card runs steadily, at the host position that leaves the fill at the
// target once the silence the card still holds has played: older audio is skipped, and until the
// schedule has reached it the card goes on with silence.
void Playout::startAudio(std::int64_t nowNs) {
    if (!scheduled || !cardClock.settled())
        return;
    const double start = scheduledEnd(nowNs) - target + fillNow / nominalRatio;
    if (start < static_cast<double>(ring.readPosition()) ||
        static_cast<double>(ring.writePosition()) < start + resampler.lookahead())
        return;
    ring.discardOldest(ring.writePosition() - std::llround(start));
    resampler.setup(nominalRatio, hostRate);
    reader.reset(&ring, hostRate, conceal);
    ratio = nominalRatio / (1.0 + controller.correction());
    resampler.setRatio(ratio);
    keeper.moved();
    steeredTaken = cardClock.taken();
    steeredCycleNs = cardClock.lastCycleNs();
    playing = true;
    writeAudio();
}

double Playout::cardBound() const {
    return target + cardClock.periodFrames() / nominalRatio + 2.0 * datagram +
           kCardMarginSeconds * hostRate;
}

// `frames` to the card: audio through the resampler (silence for any not come), or silence.
void Playout::writeOut(long frames, bool audio) {
    while (frames > 0) {
        const long n = std::min(frames, kScratchFrames);
        if (audio) {
            reader.missing = 0;
            resampler.produce(scratch.data(), static_cast<int>(n), reader);
            countUnderrun(reader.missing);
            if (reader.takeMoved() != 0)
                keeper.moved();
            concealedFrames.store(reader.concealedFrames(), std::memory_order_relaxed);
            scaledFrames.store(reader.scaledFrames(), std::memory_order_relaxed);
        } else {
            std::memset(scratch.data(), 0, sizeof(std::int16_t) * kChannels * n);
        }
        sink->write(scratch.data(), n);
        written += n;
        fillNow += n;
        frames -= n;
    }
}

// Top-ups in a row that found audio missing are one underrun.
void Playout::countUnderrun(int missing) {
    if (missing == 0)
        return;
    if (!underrunning)
        ++underruns;
    underrunning = true;
    underrunFrames += static_cast<std::uint64_t>(missing);
}
