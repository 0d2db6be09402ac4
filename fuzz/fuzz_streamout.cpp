// SPDX-License-Identifier: GPL-3.0-or-later
// StreamOut for a datagram of any length, any host frame size, receiver and speaker setting, then
// a pull of any size from both playouts: the placement, the speaker's copy, the playback meter.
#include "fuzzinput.h"
#include "hsvumeter.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto* card = new FuzzSoundCard;
    FuzzInput input{data, size};
    const int frameSize = input.takeInt();
    card->setReceiverMode(static_cast<ReceiverMode>(input.takeInt()));
    card->setSpeakerOn(input.takeInt() & 1);
    card->StartAudio({96000, frameSize, 1024});
    const int pulled = static_cast<int>(static_cast<quint32>(input.takeInt()) % 16384);
    card->StreamOut(input.rest());
    static std::vector<qint16> out(2 * 16384);
    const std::int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    card->pullCable(out.data(), pulled, now);
    card->pullSpeaker(out.data(), pulled, now);
    if (std::isnan(card->playbackMeter()->valueLeft.load()) ||
        std::isnan(card->playbackMeter()->valueRight.load()))
        std::abort();
    return 0;
}
