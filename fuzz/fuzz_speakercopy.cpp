// The speaker's copy of a block for every receiver choice, known or not.
#include "fuzzinput.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    const auto mode = static_cast<ReceiverMode>(input.takeInt());
    const QByteArray block = input.rest();
    QByteArray copy(speakerCopyBytes(block.size()), '\x5a');
    const bool copied = copyForSpeaker(block.constData(), block.size(), mode, copy.data());
    if (copied != (mode == ReceiverMode::RX1 || mode == ReceiverMode::RX2))
        std::abort();
    // Both channels of every frame carry the chosen receiver's sample (the right one for RX1),
    // read as zero past the end of the block.
    const int chosen = mode == ReceiverMode::RX1 ? 2 : 0;
    const QByteArray padded = block.leftJustified(copy.size(), '\0');
    for (int frame = 0; copied && frame < copy.size(); frame += 4)
        for (int byte = 0; byte < 4; ++byte)
            if (copy[frame + byte] != padded[frame + chosen + byte % 2])
                std::abort();
    return 0;
}
