// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "audioplatform.h"
#include "hssoundcard.h"

#include <portaudio.h>

// The sound card over PortAudio: the devices of the platform's host API (audioplatform.h), two
// playback streams the receiver writes without ever waiting (blocking streams, written only as
// far as they have room), and one capture stream with a callback.
//
// Built while the panel's PortAudio warm-up is still probing, it completes its own initialisation
// when first needed (on the device thread: the device list read, or a start) and otherwise at
// construction. It then holds PortAudio's only reference, so that a restart reads the devices
// again.
class HSPortAudio : public HSSoundCard {
    Q_OBJECT

public:
    explicit HSPortAudio(QObject* parent = nullptr);
    ~HSPortAudio() override;

    static int captureCallback(const void* input, void* output, unsigned long frameCount,
                               const PaStreamCallbackTimeInfo* timeInfo,
                               PaStreamCallbackFlags statusFlags, void* userData);

protected:
    DeviceCatalogue listDevices() override;
    void restartSoundSystem() override;
    bool available() override;
    bool openStream(CardDevice device, const CardConfig& config, int index,
                    const QString& name) override;
    void closeStream(CardDevice device) override;
    bool deviceGone(const QString& name) override;
    bool streamsOpen() const override;
    PlaybackSink* cableSink() override { return &cable; }
    PlaybackSink* speakerSink() override { return &speaker; }

private:
    // A blocking playback stream, written only as far as it has room.
    class StreamSink : public PlaybackSink {
    public:
        long writable() override;
        void write(const std::int16_t* frames, long count) override;
        PaStream* stream = nullptr;
    };

    void finishInitialisation();
    bool openPlayback(StreamSink& sink, const PaStreamParameters& device, double rate);
    static void closePlayback(StreamSink& sink);
    bool openCapture(const PaStreamParameters& device, const StreamFormat& format,
                     int captureBlocks);
    void closeCapture();

    PaError paInitError = paNotInitialized;
    bool initialisationPending = true;
    StreamSink cable;
    StreamSink speaker;
    PaStream* inputStream = nullptr;
    DeviceDefinitions definitions;
};
