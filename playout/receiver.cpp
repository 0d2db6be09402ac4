// SPDX-License-Identifier: GPL-3.0-or-later

#include "receiver.h"

#include <algorithm>

void Receiver::start(const Setup& setup, PlaybackSink* cableSink) {
    current = setup;
    estimator.reset(setup.hostRate, setup.floorFrames);
    cable.reset(setup.hostRate, setup.streamRate, setup.datagramFrames, estimator.nextPosition(),
                setup.conceal);
    cable.attach(cableSink);
    stopSpeaker();
    jitterMs = hostPpm = 0.0;
    stalls = stallsCovered = 0;
}

void Receiver::startCable(PlaybackSink* cableSink) {
    cable.reset(current.hostRate, current.streamRate, current.datagramFrames,
                estimator.nextPosition(), current.conceal);
    cable.attach(cableSink);
}

void Receiver::stopCable() {
    cable.attach(nullptr);
}

void Receiver::startSpeaker() {
    speaker.reset(current.hostRate, current.streamRate, current.datagramFrames,
                  estimator.nextPosition(), current.conceal);
    speakerOn = true;
}

void Receiver::attachSpeaker(PlaybackSink* speakerSink) {
    speaker.attach(speakerSink);
}

void Receiver::stopSpeaker() {
    speaker.attach(nullptr);
    speakerOn = false;
}

void Receiver::datagram(const std::int16_t* frames, int count, const std::int16_t* speakerFrames,
                        std::int64_t nowNs) {
    if (count <= 0)
        return;
    JitterEstimator::Placement at = estimator.arrival(nowNs, count);
    // A datagram late as if one were lost before it, whose audio breaks off what came before:
    // the loss is there, found at once rather than a few datagrams on.
    if (estimator.mayFollowLoss() && cable.breaksAt(at.position, frames, count))
        at = estimator.lossBefore(nowNs, count);
    const auto feed = [&](Playout& playout, const std::int16_t* audio) {
        playout.setTarget(at.target);
        playout.setHostClock(estimator.skewPpm(), estimator.skewErrorPpm());
        playout.push(at.position, audio, count, at.dueNs, nowNs);
    };
    feed(cable, frames);
    if (speakerOn)
        feed(speaker, speakerFrames ? speakerFrames : frames);
    jitterMs.store(estimator.latenessMs(), std::memory_order_relaxed);
    stalls.store(estimator.stalls(), std::memory_order_relaxed);
    stallsCovered.store(estimator.stallsCovered(), std::memory_order_relaxed);
    hostPpm.store(estimator.skewPpm(), std::memory_order_relaxed);
}

std::int64_t Receiver::service(std::int64_t nowNs) {
    const std::int64_t next = cable.service(nowNs);
    return speakerOn ? std::min(next, speaker.service(nowNs)) : next;
}

std::int64_t Receiver::nextServiceNs(std::int64_t nowNs) const {
    const std::int64_t next = cable.nextServiceNs(nowNs);
    return speakerOn ? std::min(next, speaker.nextServiceNs(nowNs)) : next;
}

PlayoutStats Receiver::stats() const {
    PlayoutStats s = cable.stats();
    s.jitterMs = jitterMs.load(std::memory_order_relaxed);
    s.stalls = stalls.load(std::memory_order_relaxed);
    s.stallsCovered = stallsCovered.load(std::memory_order_relaxed);
    // The host against the card, from the two clocks each measured against the system's: neither
    // the losses nor the target the controller follows move it.
    const double host = 1.0 + hostPpm.load(std::memory_order_relaxed) * 1e-6;
    const double card = 1.0 + cable.cardClockPpm() * 1e-6;
    s.skewPpm = (host / card - 1.0) * 1e6;
    return s;
}
