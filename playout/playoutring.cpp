// SPDX-License-Identifier: GPL-3.0-or-later

#include "playoutring.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int kChannels = 2;
constexpr size_t kFrameBytes = kChannels * sizeof(std::int16_t);
} // namespace

void PlayoutRing::reset(int capacityFrames, std::int64_t position) {
    std::int64_t capacity = 1;
    while (capacity < capacityFrames)
        capacity *= 2;
    // Nothing is read that was not written since, so storage of the same size is kept as it is.
    if (samples.size() != static_cast<size_t>(capacity * kChannels)) {
        samples = std::vector<std::int16_t>(static_cast<size_t>(capacity * kChannels));
        came = std::vector<std::uint8_t>(static_cast<size_t>(capacity));
    }
    mask = capacity - 1;
    writeEnd = position;
    readPos = position;
    startPos = position;
}

PlayoutRing::Written PlayoutRing::write(std::int64_t position, const std::int16_t* frames,
                                        int count) {
    Written result;
    const std::int64_t read = readPos;
    const std::int64_t from = std::max(read, writeEnd);
    const std::int64_t limit = read + capacity();

    result.late = static_cast<int>(std::clamp<std::int64_t>(from - position, 0, count));
    const std::int64_t begin = position + result.late;
    const std::int64_t end = position + count;
    if (begin == end)
        return result;

    const std::int64_t gapEnd = std::min(begin, limit);
    silence(from, gapEnd - from);
    result.silent = static_cast<int>(gapEnd - from);
    const std::int64_t dataEnd = std::clamp(end, gapEnd, limit);
    copyIn(begin, frames + kChannels * result.late, dataEnd - begin);
    result.refused = static_cast<int>(end - std::max(dataEnd, begin));
    writeEnd = std::max(gapEnd, dataEnd);
    return result;
}

int PlayoutRing::read(std::int16_t* out, int count, int wait, std::uint8_t* present) {
    const int available = static_cast<int>(std::clamp<std::int64_t>(writeEnd - readPos, 0, count));
    copyOut(readPos, out, available);
    std::memset(out + kChannels * available, 0, (count - available) * kFrameBytes);
    if (present) {
        for (int i = 0; i < available; ++i)
            present[i] = came[static_cast<std::size_t>((readPos + i) & mask)];
        std::memset(present + available, 0, static_cast<std::size_t>(count - available));
    }
    readPos += count - std::clamp(count - available, 0, std::max(wait, 0));
    return available;
}

int PlayoutRing::presentAhead(int most) const {
    const auto ahead = static_cast<int>(std::clamp<std::int64_t>(writeEnd - readPos, 0, most));
    int run = 0;
    while (run < ahead && came[static_cast<std::size_t>((readPos + run) & mask)])
        ++run;
    return run;
}

int PlayoutRing::missingAhead(int most) const {
    const auto written = static_cast<int>(std::clamp<std::int64_t>(writeEnd - readPos, 0, most));
    int run = 0;
    while (run < written && !came[static_cast<std::size_t>((readPos + run) & mask)])
        ++run;
    return run < written ? run : most;
}

void PlayoutRing::peek(std::int16_t* out, int count) const {
    copyOut(readPos, out, count);
}

void PlayoutRing::skip(int count) {
    readPos += count;
}

bool PlayoutRing::cameAll(std::int64_t position, int count) const {
    if (position < std::max(startPos, writeEnd - capacity()) || position + count > writeEnd)
        return false;
    for (std::int64_t p = position; p < position + count; ++p)
        if (!came[static_cast<std::size_t>(p & mask)])
            return false;
    return true;
}

int PlayoutRing::discardOldest(std::int64_t keep) {
    const std::int64_t excess = writeEnd - readPos - keep;
    if (excess <= 0)
        return 0;
    readPos += excess;
    return static_cast<int>(excess);
}

// The ring's frames for [position, position + count) lie in at most two runs: up to the end of
// the storage, and from its start.
void PlayoutRing::copyIn(std::int64_t position, const std::int16_t* frames, std::int64_t count) {
    if (count <= 0)
        return;
    const std::int64_t at = position & mask;
    const std::int64_t first = std::min(count, mask + 1 - at);
    std::memcpy(&samples[at * kChannels], frames, first * kFrameBytes);
    std::memcpy(samples.data(), frames + first * kChannels, (count - first) * kFrameBytes);
    mark(position, count, 1);
}

void PlayoutRing::silence(std::int64_t position, std::int64_t count) {
    if (count <= 0)
        return;
    const std::int64_t at = position & mask;
    const std::int64_t first = std::min(count, mask + 1 - at);
    std::memset(&samples[at * kChannels], 0, first * kFrameBytes);
    std::memset(samples.data(), 0, (count - first) * kFrameBytes);
    mark(position, count, 0);
}

void PlayoutRing::mark(std::int64_t position, std::int64_t count, std::uint8_t value) {
    const std::int64_t at = position & mask;
    const std::int64_t first = std::min(count, mask + 1 - at);
    std::memset(&came[static_cast<std::size_t>(at)], value, static_cast<std::size_t>(first));
    std::memset(came.data(), value, static_cast<std::size_t>(count - first));
}

void PlayoutRing::copyOut(std::int64_t position, std::int16_t* out, int count) const {
    const std::int64_t at = position & mask;
    const std::int64_t first = std::min<std::int64_t>(count, mask + 1 - at);
    std::memcpy(out, &samples[at * kChannels], first * kFrameBytes);
    std::memcpy(out + first * kChannels, samples.data(), (count - first) * kFrameBytes);
}
