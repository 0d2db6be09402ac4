// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hssoundcard.h"
#include "log.h"

// A sound card with a cable and a capture that are no devices, quiet in the log, whose hand-overs
// the fuzz targets drive directly. Its playback streams take whatever is written at once.
class FuzzSoundCard : public HSSoundCard {
public:
    FuzzSoundCard() { currentLogLevel = int(LogLevel::Emergency); }
    using HSSoundCard::deliverCapture;

protected:
    struct FuzzSink : PlaybackSink {
        long writable() override { return 65536; }
        void write(const std::int16_t*, long) override {}
    };

    DeviceCatalogue listDevices() override { return {{{"capture", 0}}, {{"cable", 0}}}; }
    bool available() override { return true; }
    bool openStream(CardDevice, const CardConfig&, int, const QString&) override { return true; }
    void closeStream(CardDevice) override {}
    void restartSoundSystem() override {}
    bool streamsOpen() const override { return false; }
    PlaybackSink* cableSink() override { return &cable; }
    PlaybackSink* speakerSink() override { return &speaker; }
    void switchDevice(std::function<void()> job) override { job(); }

private:
    FuzzSink cable;
    FuzzSink speaker;
};
