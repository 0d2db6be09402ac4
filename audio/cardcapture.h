// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "capturehandover.h"
#include "hsvumeter.h"

#include <QByteArray>

#include <atomic>
#include <cstdint>

// The captured audio's way from the capture's callback thread to the audio worker's: each block
// reduced to the host's rate and handed over whole (CaptureHandOver), its level on the capture
// meter, its latency and the time of the latest block kept for the watchdog. Everything that
// crosses is the hand-over or an atomic.
class CardCapture {
public:
    // Worker thread, the capture stopped: room for buffers of `bufferFrames`, nothing delivered,
    // watched from now.
    void prepare(int bufferFrames);
    // Device thread, a capture just opened: watched from now, as one that has not delivered.
    void opened();
    // Capture thread: reduces the samples to a transmit block, publishes it and meters the
    // samples; false (nothing published) for a count beyond any buffer.
    bool deliver(const std::int16_t* samples, int frameCount, float latencySeconds);
    // Worker thread: the newest complete block, intact until the next call.
    const QByteArray& latest();

    // The latest block's delivery (or the capture's opening), on the steady clock, and whether a
    // block has come since the capture opened.
    std::int64_t lastNs() const { return lastDeliveryNs; }
    bool delivered() const { return deliveredSinceOpening; }
    // Seconds from the capture of the latest block to its delivery; 0 while stopped.
    float latency() const { return latencySeconds; }
    void clearLatency() { latencySeconds = 0.0f; }
    const HSVUMeter* meter() const { return &vuMeter; }

private:
    CaptureHandOver handOver;
    QByteArray taken;
    std::atomic<std::int64_t> lastDeliveryNs{0};
    std::atomic<bool> deliveredSinceOpening{false};
    std::atomic<float> latencySeconds{0.0f};
    HSVUMeter vuMeter;
};
