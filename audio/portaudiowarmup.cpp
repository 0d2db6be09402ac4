#include "portaudiowarmup.h"

#include "audioplatform.h"

#include <portaudio.h>

#include <future>

namespace {

std::future<PaError> pendingWarmUp;
bool warmUpHoldsReference = false;

} // namespace

PortAudioWarmUp::PortAudioWarmUp() {
    routePlatformAudioDiagnostics();
    pendingWarmUp = std::async(std::launch::async, [] { return Pa_Initialize(); });
}

PortAudioWarmUp::~PortAudioWarmUp() {
    awaitPortAudioWarmUp();
    if (warmUpHoldsReference) {
        Pa_Terminate();
        warmUpHoldsReference = false;
    }
}

void awaitPortAudioWarmUp() {
    if (pendingWarmUp.valid())
        warmUpHoldsReference = pendingWarmUp.get() == paNoError;
}
