// SPDX-License-Identifier: GPL-3.0-or-later

#include "audioplatform.h"

#include "log.h"

#if defined(Q_OS_LINUX)
#include <alsa/asoundlib.h>
#include <pa_linux_alsa.h>

#include <cstdarg>
#include <cstdio>

namespace {

// 128 periods of a 0.75 s buffer are about 6 ms each, below any sound server's own period, so
// ALSA rounds them to that period: the card starts after one server period of audio.
constexpr int kPlaybackPeriods = 128;
constexpr int kPortAudioDefaultPeriods = 4;

void logAlsaDiagnostic(const char* file, int line, const char* function, int error,
                       const char* format, ...) {
    if (!logEnabled(LogLevel::Debug))
        return;
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    HSLOG(LogLevel::Debug, "PortAudio")
        << "ALSA " << file << ":" << line << " " << function << ": " << text
        << (error ? QString(" (%1)").arg(QString::fromLocal8Bit(snd_strerror(error))) : QString());
}

} // namespace

void routePlatformAudioDiagnostics() {
    snd_lib_error_set_handler(&logAlsaDiagnostic);
}

void releaseAudioProbeLeftovers() {
    // Frees the global configuration and closes the plugin libraries no open PCM holds.
    snd_config_update_free_global();
}

void preparePlaybackStream() {
    PaAlsa_SetNumPeriods(kPlaybackPeriods);
}

void prepareCaptureStream() {
    PaAlsa_SetNumPeriods(kPortAudioDefaultPeriods);
}

#else

void routePlatformAudioDiagnostics() {}
void releaseAudioProbeLeftovers() {}
void preparePlaybackStream() {}
void prepareCaptureStream() {}

#endif
