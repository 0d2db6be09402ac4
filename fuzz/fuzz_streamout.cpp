// SPDX-License-Identifier: GPL-3.0-or-later
// StreamOut for a block of any length, any write size, receiver and speaker setting: the padding,
// the speaker's copy and the playback meter.
#include "fuzzinput.h"
#include "hsvumeter.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto* card = new FuzzSoundCard;
    FuzzInput input{data, size};
    const int frameSize = input.takeInt();
    card->setReceiverMode(static_cast<ReceiverMode>(input.takeInt()));
    card->setSpeakerOn(input.takeInt() & 1);
    card->StartAudio({96000, frameSize, 1024});
    QByteArray block = input.rest();
    card->StreamOut(block);
    if (std::isnan(card->playbackMeter()->valueLeft.load()) ||
        std::isnan(card->playbackMeter()->valueRight.load()))
        std::abort();
    return 0;
}
