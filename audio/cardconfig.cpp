// SPDX-License-Identifier: GPL-3.0-or-later

#include "cardconfig.h"

#include "audioplatform.h"
#include "log.h"

namespace {

constexpr const char* kCategory = "PortAudio";

// Largest playback buffer: the largest block times the deepest buffer the operator may choose.
constexpr long long kMaxPlaybackBufferFrames = kMaxBufferFrames * kMaxBufferBlocks;

bool refuse(const char* what, long long value) {
    HSLOG(LogLevel::Error, kCategory) << "Audio configuration refused: " << what << " " << value;
    return false;
}

} // namespace

StreamFormat streamFormatForHost(int hostSampleRate, int hostFrameSize) {
    return {2 * hostSampleRate, 2 * hostFrameSize, 2 * hostFrameSize};
}

CardConfig cardConfigFor(int hostSampleRate, int hostFrameSize, const CardSettings& settings) {
    return {streamFormatForHost(hostSampleRate, hostFrameSize), settings};
}

const QString& deviceName(const CardSettings& settings, CardDevice device) {
    switch (device) {
    case CardDevice::Cable:
        return settings.outputDevice;
    case CardDevice::Speaker:
        return settings.audioDevice;
    case CardDevice::Capture:
        break;
    }
    return settings.inputDevice;
}

bool configurationIsPlayable(const CardConfig& c) {
    const StreamFormat& f = c.format;
    if (f.sampleRate <= 0)
        return refuse("sampleRate", f.sampleRate);
    if (f.frameSizeOut <= 0 || f.frameSizeOut > kMaxBufferFrames)
        return refuse("frameSizeOut", f.frameSizeOut);
    if (f.frameSizeIn <= 0 || f.frameSizeIn > kMaxBufferFrames)
        return refuse("frameSizeIn", f.frameSizeIn);
    const int playbackBlocks = c.settings.frameOutMult, captureBlocks = c.settings.frameInMult;
    if (playbackBlocks <= 0)
        return refuse("frameOutMult", playbackBlocks);
    if (captureBlocks <= 0)
        return refuse("frameInMult", captureBlocks);
    const long long captureFrames = captureBufferFrames(f.frameSizeIn, captureBlocks);
    if (captureFrames > kMaxBufferFrames)
        return refuse("capture buffer frames", captureFrames);
    const long long playbackFrames = static_cast<long long>(f.frameSizeOut) * playbackBlocks;
    if (playbackFrames > kMaxPlaybackBufferFrames)
        return refuse("playback buffer frames", playbackFrames);
    return true;
}

// "Auto" (one block) asks for the smallest target that works; deeper buffers set its floor.
Receiver::Setup receiverSetup(const CardConfig& config) {
    const StreamFormat& f = config.format;
    const int floorFrames =
        config.settings.frameOutMult > 1 ? config.settings.frameOutMult * f.frameSizeOut / 2 : 0;
    return {f.sampleRate / 2, f.sampleRate, f.frameSizeOut / 2, floorFrames,
            config.settings.concealLostAudio};
}
