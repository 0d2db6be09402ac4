// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hssoundcard.h"

#include <portaudio.h>

// The sound card over PortAudio: the devices of the platform's host API (audioplatform.h), two
// playback streams whose callbacks pull from the playouts, and one capture stream with a callback.
//
// Built while the panel's PortAudio warm-up is still probing, it completes its own initialisation
// when first needed (enumeration, a lookup, StartAudio) and otherwise at construction. It then
// holds PortAudio's only reference, so that a restart reads the devices again.
class HSPortAudio : public HSSoundCard {
    Q_OBJECT

public:
    explicit HSPortAudio(QObject* parent = nullptr);
    ~HSPortAudio() override;

    static int captureCallback(const void* input, void* output, unsigned long frameCount,
                               const PaStreamCallbackTimeInfo* timeInfo,
                               PaStreamCallbackFlags statusFlags, void* userData);
    // A playback stream's callback: `pull` fills the card's buffer from the stream's playout.
    template <void (HSSoundCard::*pull)(qint16*, int, std::int64_t)>
    static int playbackCallback(const void* input, void* output, unsigned long frameCount,
                                const PaStreamCallbackTimeInfo* timeInfo,
                                PaStreamCallbackFlags statusFlags, void* userData);

protected:
    DeviceCatalogue listDevices() override;
    void restartSoundSystem() override;
    bool available() override;
    bool openStreams(const StreamFormat& format, const DeviceChoice& devices) override;
    void closeStreams() override;
    bool openSpeaker(const StreamFormat& format, int device) override;
    void closeSpeaker() override;
    bool streamsOpen() const override;

private:
    void finishInitialisation();
    bool openPlayback(PaStream** stream, int deviceIndex, const StreamFormat& format,
                      PaStreamCallback* callback, const char* failureText);
    bool openCapture(int deviceIndex, const StreamFormat& format);

    PaError paInitError = paNotInitialized;
    bool initialisationPending = true;
    PaStream* outputStream = nullptr;
    PaStream* speakerStream = nullptr;
    PaStream* inputStream = nullptr;
};
