// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QtGlobal>

#include <portaudio.h>

#if defined(Q_OS_LINUX)
#include <pa_linux_alsa.h>
#endif

// The platform choices of the sound-card layer live here and in audioplatform.cpp.
//
// Which PortAudio host API the device catalogue accepts: on Windows WASAPI, where the
// virtual-cable driver's devices live; on Linux ALSA: the project's audio server and any PipeWire,
// PulseAudio or JACK setup reach PortAudio as ALSA PCMs, one per direction. The pattern is searched
// for in the host API's name, ignoring letter case.
#if defined(Q_OS_WIN)
inline constexpr char kHostApiPattern[] = ".*(WASAPI).*";
#elif defined(Q_OS_MACOS)
inline constexpr char kHostApiPattern[] = ".*(Core Audio).*";
#else
inline constexpr char kHostApiPattern[] = ".*(ALSA).*";
#endif

// Smallest capture buffer, in frames at the streams' rate, that the platform's sound system
// delivers cleanly. Through ALSA's JACK plugin a capture buffer shorter than two server periods is
// read too slowly (a transmitted tone comes out about 6 % low) while PortAudio's reader spins on a
// core; 4096 frames covers servers running periods of up to 2048 frames. Elsewhere the buffer is
// taken as configured.
#if defined(Q_OS_LINUX)
inline constexpr int kMinCaptureBufferFrames = 4096;
#else
inline constexpr int kMinCaptureBufferFrames = 0;
#endif

// The capture buffer for host frames of frameSizeIn (at the streams' rate) and the operator's
// multiplier, raised to a whole number of host frames no smaller than the platform's minimum.
constexpr long long captureBufferFrames(int frameSizeIn, int frameInMult,
                                        int minimumFrames = kMinCaptureBufferFrames) {
    const long long configured = static_cast<long long>(frameSizeIn) * frameInMult;
    if (frameSizeIn <= 0 || configured >= minimumFrames)
        return configured;
    return static_cast<long long>(frameSizeIn) * ((minimumFrames + frameSizeIn - 1) / frameSizeIn);
}

// The playback streams' buffer, in seconds: room for the playout's largest target (500 ms) and a
// sound server's period or two. The receiver keeps it nearly empty; it is this large only so
// that it never refuses what the playout writes.
inline constexpr double kPlaybackBufferSeconds = 0.75;

// Sets PortAudio up for the next stream it opens. A playback stream gets its buffer in short
// periods: through ALSA a blocking stream starts playing once a period is written, and PortAudio's
// default of four periods would hold a quarter of the buffer (190 ms) back before the card starts.
// A capture stream gets PortAudio's default. Elsewhere both do nothing.
void preparePlaybackStream();
void prepareCaptureStream();
// Runs a callback stream's thread, opened on `device` and not yet started, ahead of the desktop's
// ordinary threads: the capture's blocks come on it, and at the ordinary priority, on two busy
// cores, it can be kept off a core for over half a second and the capture judged stopped working.
// On Linux PortAudio runs it first-in-first-out real-time at priority 1, below the worker and the
// sound servers, where the system grants it, and at the ordinary priority where not. Elsewhere
// PortAudio's host APIs raise their callback threads themselves, and this does nothing.
void raiseCallbackPriority(PaStream* stream, PaDeviceIndex device);

// Runs the calling thread (the audio worker's: it stamps each datagram's arrival and tops the
// cards up before their cycles) ahead of the desktop's ordinary work, as sound servers run their
// clients' audio threads: a few milliseconds spent waiting for a core are a datagram taken for
// late and a latency grown to cover it. On Linux first-in-first-out real-time scheduling at a low
// priority (above the client threads JACK starts under its server, below the servers' own
// threads); elsewhere Qt's time-critical priority. Where the system does not grant it (no
// real-time limit for the user) the thread runs on as it was: the text says why, empty when the
// priority was raised.
QString raiseAudioThreadPriority();
// Runs the calling thread at the system's ordinary priority, whatever the thread that started it
// ran at: a device switch probes and opens devices for as long as the sound system takes.
void runAtOrdinaryPriority();

// Pa_Initialize, the platform's way; every start of PortAudio goes through here.
// - The sound system's own diagnostics go to the panel's log at Debug level instead of the
//   terminal: ALSA prints a line for every configured PCM it cannot open while PortAudio probes
//   devices (dmix, surround and the like on a machine without those cards), JACK's library one for
//   every client it cannot open.
// - PortAudio leaves out the host APIs the catalogue never lists. Its JACK host API would open a
//   JACK client and have the server run it every period, whether or not a stream uses it: a thread
//   woken some fifty times a second for nothing, where the panel plays through ALSA's PCMs. It is
//   given a client name JACK refuses, and leaves itself out.
// Elsewhere this is Pa_Initialize alone.
PaError startPortAudio();

// Unloads what the sound system loaded only to probe the devices, once no device is open. ALSA
// loads the library of every configured PCM plugin that PortAudio's probe opens (a52 brings
// libavcodec and the codecs behind it) and keeps them after the probe has closed its PCMs; the
// next stream reloads ALSA's configuration and only the plugins it uses. Elsewhere this does
// nothing.
void releaseAudioProbeLeftovers();

// A device that PortAudio has not listed (defined or plugged in since PortAudio read its list, or
// plugged back under another index), addressed by its name for one Pa_OpenStream. On Linux ALSA
// opens any PCM by its name, read afresh from its configuration; elsewhere only listed devices
// open.
class UnlistedDevice {
public:
    // Fills `parameters` to open the device PortAudio calls `name`; false where the platform
    // cannot, or where the device is known not to be there.
    bool address(PaStreamParameters& parameters, const QString& name);

private:
    QByteArray deviceString;
#if defined(Q_OS_LINUX)
    PaAlsaStreamInfo alsa{};
#endif
};

// Whether the sound system no longer knows a device PortAudio calls by name, though a stream on it
// may run on: on Linux a PCM whose definition was removed from ALSA's configuration. Elsewhere a
// device that goes fails its stream, and this is always false. One thread at a time.
class DeviceDefinitions {
public:
    bool undefined(const QString& name);

#if defined(Q_OS_LINUX)
    DeviceDefinitions() = default;
    ~DeviceDefinitions();
    DeviceDefinitions(const DeviceDefinitions&) = delete;
    DeviceDefinitions& operator=(const DeviceDefinitions&) = delete;

private:
    // Whether ALSA's files may have changed since the last look.
    bool configurationMayHaveChanged();

    // Reading all of ALSA's configuration takes a millisecond or so, and the devices in use are
    // asked about every few seconds: the answers are kept for as long as none of the files the
    // configuration comes from has changed. Even stamping those files, some tens of system calls
    // on a thread woken for it, cost a millisecond: they are stamped only when the directories
    // they are in, watched, have seen a change.
    QByteArray answeredAt;
    QHash<QByteArray, bool> answers;
    int watch = -1;
    bool watchTried = false;
    bool watching = false;
#endif
};
