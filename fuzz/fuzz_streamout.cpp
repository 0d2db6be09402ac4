// SPDX-License-Identifier: GPL-3.0-or-later
// StreamOut for a datagram of any length, any host frame size, receiver and speaker setting, then
// a pull of any size from both playouts: the placement, the speaker's copy, the playback meter.
#include "fuzzsoundcard.h"
#include "hsvumeter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto* card = new FuzzSoundCard;
    // The leading 16 bytes are four parameters (zeros past the end of a short input), any value,
    // negative and huge ones too; the rest is the datagram.
    std::int32_t parameters[4] = {};
    const size_t header = std::min(size, sizeof parameters);
    std::memcpy(parameters, data, header);
    const auto [frameSize, mode, speaker, pull] = parameters;
    card->setReceiverMode(static_cast<ReceiverMode>(mode));
    card->setSpeakerOn(speaker & 1);
    card->StartAudio({96000, frameSize, 1024});
    const int pulled = static_cast<int>(static_cast<quint32>(pull) % 16384);
    card->StreamOut(QByteArray(reinterpret_cast<const char*>(data + header), int(size - header)));
    static std::vector<qint16> out(2 * 16384);
    const std::int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    card->pullCable(out.data(), pulled, now);
    card->pullSpeaker(out.data(), pulled, now);
    if (std::isnan(card->playbackMeter()->valueLeft.load()) ||
        std::isnan(card->playbackMeter()->valueRight.load()))
        std::abort();
    return 0;
}
