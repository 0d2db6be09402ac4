// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hssoundcard.h"
#include "log.h"

// A sound card without devices, quiet in the log, whose hand-overs the fuzz targets drive
// directly.
class FuzzSoundCard : public HSSoundCard {
public:
    FuzzSoundCard() { currentLogLevel = int(LogLevel::Emergency); }
    using HSSoundCard::deliverCapture;
    using HSSoundCard::pullCable;
    using HSSoundCard::pullSpeaker;

protected:
    DeviceCatalogue listDevices() override { return {}; }
    bool available() override { return true; }
    bool openStreams(const StreamFormat&, const DeviceChoice&) override { return true; }
    void closeStreams() override {}
    void restartSoundSystem() override {}
    bool streamsOpen() const override { return false; }
    bool openSpeaker(const StreamFormat&, int) override { return true; }
    void closeSpeaker() override {}
    void switchSpeaker(std::function<void()> job) override { job(); }
};
