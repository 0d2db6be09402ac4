// SPDX-License-Identifier: GPL-3.0-or-later

#include "cardplayback.h"

#include "samplemath.h"

void CardPlayback::feed(CardDevice device) {
    if (device == CardDevice::Speaker)
        receiver.startSpeaker();
}

void CardPlayback::attach(CardDevice device, PlaybackSink* sink) {
    if (device == CardDevice::Cable)
        receiver.startCable(sink);
    else if (device == CardDevice::Speaker)
        receiver.attachSpeaker(sink);
}

void CardPlayback::detach(CardDevice device) {
    if (device == CardDevice::Cable)
        receiver.stopCable();
    else if (device == CardDevice::Speaker)
        receiver.stopSpeaker();
}

bool CardPlayback::failed(CardDevice device) const {
    return device == CardDevice::Cable ? receiver.cableFailed() : receiver.speakerFailed();
}

std::int64_t CardPlayback::takenNs(CardDevice device) const {
    return device == CardDevice::Cable ? receiver.cableTakenNs() : receiver.speakerTakenNs();
}

bool CardPlayback::hasTaken(CardDevice device) const {
    return device == CardDevice::Cable ? receiver.cableHasTaken() : receiver.speakerHasTaken();
}

void CardPlayback::datagram(const QByteArray& datagram, int frames, ReceiverMode speakerReceiver,
                            std::int64_t arrivalNs) {
    const auto* block = reinterpret_cast<const std::int16_t*>(datagram.constData());
    const std::int16_t* speakerBlock = nullptr;
    if (receiver.speakerFed()) {
        const int bytes = frames * kBytesPerStereoFrame;
        if (speakerCopy.size() < bytes)
            speakerCopy.resize(bytes);
        if (copyForSpeaker(datagram.constData(), bytes, speakerReceiver, speakerCopy.data()))
            speakerBlock = reinterpret_cast<const std::int16_t*>(speakerCopy.constData());
    }
    receiver.datagram(block, frames, speakerBlock, arrivalNs);
    vuMeter.meterStereo(block, frames);
}
