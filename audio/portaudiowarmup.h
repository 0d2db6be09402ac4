// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <functional>

class QObject;

// PortAudio's initialisation probes every device of the sound system, which takes half a second
// or more with some ALSA and JACK setups. The panel starts it on a helper thread as early as it
// can, so that the window is built and shown meanwhile; HSPortAudio's own initialisation waits
// for it and then merely adds a reference (PortAudio counts its initialisations).
//
// Called from one thread at a time: the GUI thread, and HSPortAudio's own initialisation on the
// sound card's device thread. The warm-up keeps its reference until HSPortAudio has taken its own
// (releasePortAudioWarmUp) or the object dies, so PortAudio is not torn down and probed again
// between the warm-up and HSPortAudio, and is no longer held up when HSPortAudio restarts it.
class PortAudioWarmUp {
public:
    PortAudioWarmUp();
    ~PortAudioWarmUp();
    PortAudioWarmUp(const PortAudioWarmUp&) = delete;
    PortAudioWarmUp& operator=(const PortAudioWarmUp&) = delete;
};

// True while a warm-up has been started and not yet waited for.
bool portAudioWarmUpPending();

// Waits for a warm-up in progress; returns at once when there is none.
void awaitPortAudioWarmUp();

// Waits for a warm-up in progress and gives up its reference to PortAudio, if it holds one.
void releasePortAudioWarmUp();

// Runs onDone in context's thread as soon as the warm-up in progress has finished, or right here
// when there is none or it has finished. One callback at a time: a later call replaces one not yet
// run. The context must wait for the warm-up (awaitPortAudioWarmUp) before it is destroyed.
void whenPortAudioWarmedUp(QObject* context, std::function<void()> onDone);
