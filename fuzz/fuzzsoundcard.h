// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hssoundcard.h"
#include "log.h"

// A sound card without devices, quiet in the log, whose hand-overs the fuzz targets drive
// directly. Its playback streams take whatever is written at once.
class FuzzSoundCard : public HSSoundCard {
public:
    FuzzSoundCard() { currentLogLevel = int(LogLevel::Emergency); }
    using HSSoundCard::deliverCapture;

protected:
    struct FuzzSink : PlaybackSink {
        long writable() override { return 65536; }
        void write(const std::int16_t*, long) override {}
    };

    DeviceCatalogue listDevices() override { return {}; }
    bool available() override { return true; }
    bool openStreams(const CardConfig&, const DeviceChoice&) override { return true; }
    void closeStreams() override {}
    void restartSoundSystem() override {}
    bool streamsOpen() const override { return false; }
    bool openSpeaker(const StreamFormat&, int) override { return true; }
    void closeSpeaker() override {}
    PlaybackSink* cableSink() override { return &cable; }
    PlaybackSink* speakerSink() override { return &speaker; }
    void switchSpeaker(std::function<void()> job) override { job(); }

private:
    FuzzSink cable;
    FuzzSink speaker;
};
