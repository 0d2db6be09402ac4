// The speaker's copy of a block for every receiver choice, known or not.
#include "fuzzinput.h"
#include "samplemath.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const int mode = input.takeInt();
    const QByteArray block(input.rest(), input.restSize());

    const QByteArray speaker = speakerBlock(block, mode);
    const int copyBytes = speakerCopyBytes(block.size());
    QByteArray copy(copyBytes, '\x5a');
    const bool copied = copyForSpeaker(block.constData(), block.size(), mode, copy.data());
    switch (mode) {
    case static_cast<int>(SpeakerMode::BothReceivers):
        if (speaker != block || copied)
            std::abort();
        break;
    case static_cast<int>(SpeakerMode::RightReceiver):
    case static_cast<int>(SpeakerMode::LeftReceiver):
        if (!copied || speaker != copy)
            std::abort();
        // Both channels of every frame carry the chosen receiver.
        for (int frame = 0; frame + 4 <= copy.size(); frame += 4)
            if (std::memcmp(copy.constData() + frame, copy.constData() + frame + 2, 2) != 0)
                std::abort();
        break;
    default:
        if (!speaker.isEmpty() || copied)
            std::abort();
    }
    return 0;
}
