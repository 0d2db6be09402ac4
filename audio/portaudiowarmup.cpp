// SPDX-License-Identifier: GPL-3.0-or-later

#include "portaudiowarmup.h"

#include "audioplatform.h"

#include <QMetaObject>
#include <QObject>

#include <portaudio.h>

#include <future>
#include <mutex>

namespace {

std::future<PaError> pendingWarmUp;
bool warmUpHoldsReference = false;

// Shared between the GUI thread and the warm-up's thread.
std::mutex callbackMutex;
bool warmUpFinished = false;
QObject* callbackContext = nullptr;
std::function<void()> callback;

PaError warmUp() {
    const PaError result = startPortAudio();
    releaseAudioProbeLeftovers();
    const std::lock_guard<std::mutex> lock(callbackMutex);
    warmUpFinished = true;
    if (callback)
        QMetaObject::invokeMethod(callbackContext, std::move(callback), Qt::QueuedConnection);
    callback = nullptr;
    return result;
}

} // namespace

PortAudioWarmUp::PortAudioWarmUp() {
    {
        const std::lock_guard<std::mutex> lock(callbackMutex);
        warmUpFinished = false;
    }
    pendingWarmUp = std::async(std::launch::async, warmUp);
}

PortAudioWarmUp::~PortAudioWarmUp() {
    releasePortAudioWarmUp();
}

bool portAudioWarmUpPending() {
    return pendingWarmUp.valid();
}

void awaitPortAudioWarmUp() {
    if (pendingWarmUp.valid())
        warmUpHoldsReference = pendingWarmUp.get() == paNoError;
}

void releasePortAudioWarmUp() {
    awaitPortAudioWarmUp();
    if (warmUpHoldsReference) {
        Pa_Terminate();
        warmUpHoldsReference = false;
    }
}

void whenPortAudioWarmedUp(QObject* context, std::function<void()> onDone) {
    {
        const std::lock_guard<std::mutex> lock(callbackMutex);
        if (pendingWarmUp.valid() && !warmUpFinished) {
            callbackContext = context;
            callback = std::move(onDone);
            return;
        }
    }
    onDone();
}
