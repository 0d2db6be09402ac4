// SPDX-License-Identifier: GPL-3.0-or-later
// StreamOut for a datagram of any length, any host frame size, receiver and speaker setting, then
// the playback streams fed: the placement, the speaker's copy, the playback meter.
#include "fuzzsoundcard.h"
#include "hsvumeter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto* card = new FuzzSoundCard;
    // The leading 12 bytes are three parameters (zeros past the end of a short input), any value,
    // negative and huge ones too; the rest is the datagram.
    std::int32_t parameters[3] = {};
    const size_t header = std::min(size, sizeof parameters);
    std::memcpy(parameters, data, header);
    const auto [frameSize, mode, speaker] = parameters;
    CardConfig config;
    config.format = {96000, frameSize, 1024};
    config.settings.outputDevice = "cable";
    config.settings.inputDevice = "capture";
    config.settings.audioOutMode = static_cast<ReceiverMode>(mode);
    config.settings.speakerOn = speaker & 1;
    card->StartAudio(config);
    card->StreamOut(QByteArray(reinterpret_cast<const char*>(data + header), int(size - header)));
    if (card->ServicePlayback().inMs > 1000 ||
        std::isnan(card->playbackMeter()->valueLeft.load()) ||
        std::isnan(card->playbackMeter()->valueRight.load()))
        std::abort();
    return 0;
}
