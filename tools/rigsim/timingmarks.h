// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>

// Timing marks in the right channel of a stereo stream: silence, except a short tone burst that
// begins at every whole second of the host's sample time (frame m * sampleRate for mark m) at its
// peak, so a recorder at the far end finds the burst's first sample within a sample or two. The
// left channel is left alone, and stays the one to look for gaps in.
class TimingMarks {
public:
    static constexpr double kBurstHz = 2000.0;
    static constexpr double kBurstSeconds = 0.010;
    static constexpr double kAmplitude = 0.5; // -6 dBFS

    explicit TimingMarks(int sampleRate);

    // Writes the right channel of `block` (interleaved 16-bit little-endian stereo) whose first
    // frame is frame `firstFrame` of the stream. Returns the mark that begins in it, or -1.
    qint64 apply(QByteArray* block, qint64 firstFrame) const;

    // The stream's frame at which mark m begins.
    qint64 markFrame(qint64 mark) const { return mark * sampleRate; }

private:
    qint64 sampleRate;
    qint64 burstFrames;
};
