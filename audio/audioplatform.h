#pragma once

#include <QtGlobal>

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

// Sends the sound system's own diagnostics to the panel's log instead of the terminal. ALSA prints
// a line for every configured PCM it cannot open while PortAudio probes devices (dmix, surround
// and the like on a machine without those cards); those go to the log at Debug level. Elsewhere
// this does nothing.
void routePlatformAudioDiagnostics();
