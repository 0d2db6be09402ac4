// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hssoundcard.h"
#include "log.h"

#include <cstdint>
#include <cstring>

// Takes the leading bytes of a fuzz input as parameters and leaves the rest as the payload.
struct FuzzInput {
    const uint8_t* data;
    size_t size;

    // The next 4 bytes as an int (zeros past the end): any value, negative and huge ones too.
    int32_t takeInt() {
        int32_t value = 0;
        const size_t n = size < 4 ? size : 4;
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
    QByteArray rest() const { return QByteArray(reinterpret_cast<const char*>(data), int(size)); }
};

// A quiet sound card with no sound system behind it, whose streams always open; the fuzzer pulls
// its playback itself.
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
