// SPDX-License-Identifier: GPL-3.0-or-later
// The speaker's copy of a block for every receiver choice, known or not.
#include "fuzzinput.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    const auto mode = static_cast<ReceiverMode>(input.takeInt());
    const QByteArray block = input.rest();
    QByteArray copy(speakerCopyBytes(block.size()), '\x5a');
    const bool copied = copyForSpeaker(block.constData(), block.size(), mode, copy.data());
    // Which sample goes where is the unit tests' business; reads and writes past the ends are
    // the sanitizers'.
    if (copied != (mode == ReceiverMode::RX1 || mode == ReceiverMode::RX2))
        std::abort();
    return 0;
}
