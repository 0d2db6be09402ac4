// SPDX-License-Identifier: GPL-3.0-or-later

#include "cardcapture.h"

#include "cardconfig.h"
#include "samplemath.h"
#include "soundwatchdog.h"

void CardCapture::prepare(int bufferFrames) {
    handOver.prepare(reducedCaptureBytes(bufferFrames));
    taken = QByteArray();
    opened();
}

void CardCapture::opened() {
    lastDeliveryNs = steadyClockNs();
    deliveredSinceOpening = false;
}

bool CardCapture::deliver(const std::int16_t* samples, int frameCount, float latency) {
    if (frameCount < 0 || frameCount > kMaxBufferFrames)
        return false;
    QByteArray& block = handOver.writeBuffer();
    block.resize(reducedCaptureBytes(frameCount));
    reduceCapture(samples, frameCount, block.data());
    handOver.publish();
    if (frameCount > 0)
        vuMeter.meterMono(samples, frameCount);
    latencySeconds = latency;
    lastDeliveryNs = steadyClockNs();
    deliveredSinceOpening = true;
    return true;
}

const QByteArray& CardCapture::latest() {
    handOver.take(taken);
    return taken;
}
