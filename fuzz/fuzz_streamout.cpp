// StreamOut's handling of a block of any length for any write size and speaker setting, on a
// sound-card layer with no stream open: the padding, the level of the block and the meters.
#include "fuzzinput.h"
#include "hsportaudio.h"
#include "hsvumeter.h"
#include "log.h"

#include <cmath>
#include <cstdlib>

namespace {

HSPortAudio* portAudio = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    currentLogLevel = static_cast<int>(LogLevel::Emergency);
    portAudio = new HSPortAudio;
    // Without the library no block is handled; that would fuzz nothing.
    if (portAudio->paInitError != paNoError)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    portAudio->frameSizeOut = input.takeInt();
    portAudio->audioOutMode = input.takeInt();
    portAudio->speakerOn = input.takeInt() & 1;
    QByteArray block(input.rest(), input.restSize());
    portAudio->StreamOut(block);
    if (std::isnan(portAudio->vuMeterOut->valueLeft) ||
        std::isnan(portAudio->vuMeterOut->valueRight))
        std::abort();
    return 0;
}
