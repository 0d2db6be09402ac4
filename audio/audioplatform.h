#pragma once

#include <QtGlobal>

// The one platform choice of the sound-card layer: which PortAudio host API the device catalogue
// accepts. On Windows that is WASAPI, where the virtual-cable driver's devices live. On Linux it
// is ALSA: the project's audio server and any PipeWire, PulseAudio or JACK setup reach PortAudio
// as ALSA PCMs, one per direction. The pattern is searched for in the host API's name, ignoring
// letter case.
#if defined(Q_OS_WIN)
inline constexpr char kHostApiPattern[] = ".*(WASAPI).*";
#elif defined(Q_OS_MACOS)
inline constexpr char kHostApiPattern[] = ".*(Core Audio).*";
#else
inline constexpr char kHostApiPattern[] = ".*(ALSA).*";
#endif
