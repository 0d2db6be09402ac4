// SPDX-License-Identifier: GPL-3.0-or-later

#include "ringreader.h"

#include "playoutring.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {
// The most a single seam moves the latency; more takes several, one after the other. A seam gives
// back less than asked where the ring holds too little, but no less than the least.
constexpr double kLargestSeconds = 0.25;
constexpr double kLeastSeconds = 0.002;
} // namespace

void RingReader::reset(PlayoutRing* playoutRing, int rate, bool concealing) {
    ring = playoutRing;
    conceal = concealing;
    afterGap = false;
    splicer.reset(rate);
    concealer.reset(rate, conceal);
    largest = static_cast<int>(kLargestSeconds * rate);
    least = static_cast<int>(kLeastSeconds * rate);
    ahead.assign(static_cast<std::size_t>(kChannels * splicer.needs(largest)), 0);
    seam.assign(ahead.size(), 0);
    historyFrames = splicer.needs(largest);
    history.assign(static_cast<std::size_t>(2 * kChannels * historyFrames), 0);
    historyAt = 0;
    present.assign(kPiece, 0);
    asked = moved = fillFirst = gapRun = waitedInGap = 0;
    seamAt = seamLeft = 0;
    missing = waitRoom = 0;
    scaled = 0;
}

void RingReader::read(std::int16_t* frames, int count) {
    while (count > 0) {
        const int n = std::min(count, kPiece);
        int done = 0;
        while (done < n) {
            if (seamLeft > 0) {
                const int from = std::min(n - done, seamLeft);
                std::memcpy(frames + kChannels * done, &seam[std::size_t(kChannels * seamAt)],
                            sizeof(std::int16_t) * kChannels * from);
                std::memset(&present[std::size_t(done)], 1, std::size_t(from));
                seamAt += from;
                afterGap = false;
                seamLeft -= from;
                done += from;
            } else if (fillFirst > 0) {
                const int fill = std::min(n - done, fillFirst);
                std::memset(frames + kChannels * done, 0, sizeof(std::int16_t) * kChannels * fill);
                std::memset(&present[std::size_t(done)], 0, std::size_t(fill));
                fillFirst -= fill;
                done += fill;
            } else if (ring->presentAhead(1) > 0) {
                if (afterGap)
                    rejoin();
                afterGap = false;
                done += readRing(frames + kChannels * done, &present[std::size_t(done)],
                                 std::max(1, ring->presentAhead(n - done)));
            } else {
                done += readRing(frames + kChannels * done, &present[std::size_t(done)],
                                 std::max(1, ring->missingAhead(n - done)));
            }
        }
        concealer.process(frames, present.data(), n);
        remember(frames, n);
        frames += kChannels * n;
        count -= n;
    }
}

// Up to `count` frames from the ring, as far as the next seam that is due.
int RingReader::readRing(std::int16_t* frames, std::uint8_t* came, int count) {
    const std::int64_t from = ring->readPosition();
    const int got = ring->read(frames, count, waitRoom, came);
    missing += count - got;
    const int waited = count - static_cast<int>(ring->readPosition() - from);
    waitRoom -= waited;
    moved -= waited;
    afterGap = afterGap || (waited > 0 && conceal);
    gapRun = got > 0 ? 0 : gapRun + count;
    waitedInGap = got > 0 ? 0 : waitedInGap + waited;
    if (gapRun > concealer.fillFrames() && waitedInGap > 0)
        keepTimeline();
    return count;
}

// A gap longer than a fill carries on (an outage, a stall): what it waited for is given back, so
// that the audio comes again where it belongs, as the fill has long faded.
void RingReader::keepTimeline() {
    ring->skip(waitedInGap);
    moved += waitedInGap;
    waitRoom = 0;
    waitedInGap = 0;
    afterGap = false;
}

void RingReader::moveLatency(int frames) {
    asked = frames;
}

std::int64_t RingReader::position() const {
    return ring->readPosition() - seamLeft;
}

int RingReader::takeMoved() {
    const int m = moved;
    moved = 0;
    return m;
}

// Audio that comes again after a wait for it joins the fill where it is most like what the fill
// would have gone on with, a few milliseconds either way, so that a tone comes back in phase: the
// fill has moved on by the wait, and the audio has not. (A fill over a lost datagram's place ends
// where the audio after it belongs, in phase as it is.)
void RingReader::rejoin() {
    const int count = splicer.rejoinFrames();
    if (ring->presentAhead(count) < count)
        return;
    concealer.preview(seam.data(), count);
    ring->peek(ahead.data(), count);
    const int at = splicer.rejoinAt(seam.data(), ahead.data());
    if (at > 0)
        ring->skip(at);
    else
        fillFirst = -at;
    moved += at;
    scaled += static_cast<std::uint64_t>(std::abs(at));
}

// A seam asked for, once the one before has been handed on. Given back, it needs the audio from
// the seam on in the ring, and gives back no more than the ring holds; taken, the stretch
// repeated is the latest handed on, and only a crossfade's worth is needed ahead. Its stretch is
// as long as asked give or take the search; a move larger than one seam takes is carried out a
// seam at a time.
void RingReader::splice() {
    if (asked == 0 || seamLeft > 0)
        return;
    const int w = splicer.crossfadeFrames();
    const int beyond = splicer.needs(largest) - largest;
    const int room = ring->presentAhead(asked > 0 ? splicer.needs(largest) : w);
    const int wanted = std::min({std::abs(asked), largest, asked > 0 ? room - beyond : largest});
    if (asked < 0 ? room < w : wanted < std::min(std::abs(asked), least))
        return;
    ring->peek(ahead.data(), asked > 0 ? splicer.needs(wanted) : w);
    const std::int16_t* x = ahead.data();
    int length = 0;
    if (asked > 0) {
        length = splicer.stretchFor(x, splicer.needs(wanted), wanted);
        splicer.crossfade(x, x + kChannels * length, seam.data());
        ring->skip(length + w);
        seamLeft = w;
        moved += length;
        asked = asked - length > splicer.searchFrames() ? asked - length : 0;
    } else {
        const std::int16_t* behind = &history[std::size_t(kChannels * (historyAt + historyFrames))];
        length = splicer.stretchBefore(behind, x, wanted);
        splicer.crossfade(x, behind - kChannels * length, seam.data());
        std::memcpy(seam.data() + kChannels * w, behind - kChannels * (length - w),
                    sizeof(std::int16_t) * kChannels * (length - w));
        seamLeft = length;
        moved -= length;
        asked = asked + length < -splicer.searchFrames() ? asked + length : 0;
    }
    seamAt = 0;
    scaled += static_cast<std::uint64_t>(length);
}

// The frames handed on, into a ring written twice over, so that its latest frames always lie in
// one piece just before historyAt + historyFrames.
void RingReader::remember(const std::int16_t* frames, int count) {
    for (int i = 0; i < count; ++i) {
        for (const int at : {historyAt, historyAt + historyFrames})
            std::memcpy(&history[std::size_t(kChannels * at)], frames + kChannels * i,
                        sizeof(std::int16_t) * kChannels);
        historyAt = (historyAt + 1) % historyFrames;
    }
}
