#pragma once

// PortAudio's initialisation probes every device of the sound system, which takes half a second
// or more with some ALSA and JACK setups. The panel starts it on a helper thread as early as it
// can, so that the probe overlaps with building the window; HSPortAudio's own initialisation waits
// for it and then merely adds a reference (PortAudio counts its initialisations).
//
// GUI thread only. The warm-up keeps its reference until the object dies, so PortAudio is not
// torn down and probed again between the warm-up and HSPortAudio.
class PortAudioWarmUp {
public:
    PortAudioWarmUp();
    ~PortAudioWarmUp();
    PortAudioWarmUp(const PortAudioWarmUp&) = delete;
    PortAudioWarmUp& operator=(const PortAudioWarmUp&) = delete;
};

// Waits for a warm-up in progress; returns at once when there is none.
void awaitPortAudioWarmUp();
