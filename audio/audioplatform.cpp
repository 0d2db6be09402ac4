// SPDX-License-Identifier: GPL-3.0-or-later

#include "audioplatform.h"

#include "log.h"

#if defined(Q_OS_LINUX)
#include <alsa/asoundlib.h>
#include <pa_linux_alsa.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// JACK runs its server thread at real-time priority 10 and its clients' threads at 5 by default;
// PipeWire its data threads at 88 and more.
constexpr int kAudioThreadPriority = 8;

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

void logJackDiagnostic(const char* text) {
    HSLOG(LogLevel::Debug, "PortAudio") << "JACK " << text;
}

// A function of a library PortAudio may or may not have been built with (JACK's, its own JACK
// host API's); null when it was not.
template <typename Function>
Function optionalFunction(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

// JACK takes client names of at most 63 characters; PortAudio, asking JACK, lets this one by.
constexpr char kRefusedJackClientName[] =
    "uMX plays through ALSA: PortAudio's own JACK client isn't wanted";
static_assert(sizeof kRefusedJackClientName - 1 == 64);

} // namespace

QString raiseAudioThreadPriority() {
    sched_param param{};
    param.sched_priority = kAudioThreadPriority;
    const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    return error == 0 ? QString() : QString::fromLocal8Bit(std::strerror(error));
}

void runAtOrdinaryPriority() {
    const sched_param param{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
}

PaError startPortAudio() {
    snd_lib_error_set_handler(&logAlsaDiagnostic);
    using SetMessageFunction = void (*)(void (*)(const char*));
    for (const char* setter : {"jack_set_error_function", "jack_set_info_function"})
        if (const auto set = optionalFunction<SetMessageFunction>(setter))
            set(&logJackDiagnostic);
    using SetClientName = PaError (*)(const char*);
    if (const auto set = optionalFunction<SetClientName>("PaJack_SetClientName"))
        set(kRefusedJackClientName);
    return Pa_Initialize();
}

void releaseAudioProbeLeftovers() {
    // Frees the global configuration and closes the plugin libraries no open PCM holds.
    snd_config_update_free_global();
}

void preparePlaybackStream() {
    PaAlsa_SetNumPeriods(kPlaybackPeriods);
}

namespace {

// PortAudio names a card's device "card: device (hw:N,M)" and a configured PCM by its own name.
QByteArray alsaName(const QString& name) {
    static const QRegularExpression cardDevice(R"(\((hw:\d+,\d+)\)$)");
    const QRegularExpressionMatch card = cardDevice.match(name);
    return (card.hasMatch() ? card.captured(1) : name).toUtf8();
}

// Whether ALSA's configuration, read afresh (it reads a configuration changed since only once its
// cached one is dropped), defines the PCM.
bool defined(const QByteArray& pcm) {
    snd_config_update_free_global();
    snd_config_t* definition = nullptr;
    if (snd_config_update() < 0 ||
        snd_config_search_definition(snd_config, "pcm", pcm.constData(), &definition) < 0)
        return false;
    snd_config_delete(definition);
    return true;
}

// A file's or directory's identity, size and last change, and for a directory its entries': a
// file added, removed, replaced or written shows in it.
void stampPath(QByteArray& stamp, const QString& path, bool directory = false) {
    struct stat status {};
    stamp += path.toLocal8Bit();
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        stamp += " -\n";
        return;
    }
    stamp += ' ' + QByteArray::number(qulonglong(status.st_ino)) + ' ' +
             QByteArray::number(qlonglong(status.st_size)) + ' ' +
             QByteArray::number(qlonglong(status.st_mtim.tv_sec)) + '.' +
             QByteArray::number(qlonglong(status.st_mtim.tv_nsec)) + '\n';
    if (!directory || !S_ISDIR(status.st_mode))
        return;
    const QDir dir(path);
    for (const QString& entry :
         dir.entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name))
        stampPath(stamp, dir.filePath(entry));
}

// The state of the files ALSA reads its configuration from: those on ALSA_CONFIG_PATH, or its
// own alsa.conf and what that loads (the configuration directories, the system's and the user's
// asoundrc).
QByteArray configurationStamp() {
    QByteArray stamp;
    const QString path = qEnvironmentVariable("ALSA_CONFIG_PATH");
    const QString dataDir = qEnvironmentVariable("ALSA_CONFIG_DIR", "/usr/share/alsa");
    for (const QString& file :
         path.isEmpty() ? QStringList{dataDir + "/alsa.conf"} : path.split(':', Qt::SkipEmptyParts))
        stampPath(stamp, file);
    for (const char* dir : {"/var/lib/alsa/conf.d", "/usr/etc/alsa/conf.d", "/etc/alsa/conf.d"})
        stampPath(stamp, dir, true);
    const QString home = QDir::homePath();
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME", home + "/.config");
    for (const QString& file :
         {QStringLiteral("/etc/asound.conf"), QStringLiteral("/usr/etc/asound.conf"),
          home + "/.asoundrc", config + "/alsa/asoundrc"})
        stampPath(stamp, file);
    return stamp;
}

} // namespace

// A PCM that is not defined is not tried, so that looking for one now and then leaves no trace of
// PortAudio's failure on the terminal.
bool UnlistedDevice::address(PaStreamParameters& parameters, const QString& name) {
    deviceString = alsaName(name);
    if (!defined(deviceString))
        return false;
    PaAlsa_InitializeStreamInfo(&alsa);
    alsa.deviceString = deviceString.constData();
    parameters.device = paUseHostApiSpecificDeviceSpecification;
    parameters.hostApiSpecificStreamInfo = &alsa;
    return true;
}

// A card's device goes with its card, which its stream reports; a configured PCM goes with its
// definition, while its stream plays on into ports that lead nowhere.
bool DeviceDefinitions::undefined(const QString& name) {
    const QByteArray pcm = alsaName(name);
    if (pcm.startsWith("hw:"))
        return false;
    // Stamped before reading: a change made while it reads is read again next time.
    if (QByteArray stamp = configurationStamp(); stamp != answeredAt) {
        answeredAt = std::move(stamp);
        answers.clear();
    }
    auto answer = answers.constFind(pcm);
    if (answer == answers.constEnd())
        answer = answers.insert(pcm, !defined(pcm));
    return *answer;
}

void prepareCaptureStream() {
    PaAlsa_SetNumPeriods(kPortAudioDefaultPeriods);
}

// Only an ALSA stream: PortAudio takes the stream for one without asking.
void raiseCallbackPriority(PaStream* stream, PaDeviceIndex device) {
    const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    const PaHostApiInfo* hostApi = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    if (device == paUseHostApiSpecificDeviceSpecification || (hostApi && hostApi->type == paALSA))
        PaAlsa_EnableRealtimeScheduling(stream, 1);
}

#else

#include <QThread>

QString raiseAudioThreadPriority() {
    QThread::currentThread()->setPriority(QThread::TimeCriticalPriority);
    return {};
}

void runAtOrdinaryPriority() {
    QThread::currentThread()->setPriority(QThread::NormalPriority);
}

PaError startPortAudio() {
    return Pa_Initialize();
}
void releaseAudioProbeLeftovers() {}
void preparePlaybackStream() {}
void prepareCaptureStream() {}
void raiseCallbackPriority(PaStream*, PaDeviceIndex) {}

bool UnlistedDevice::address(PaStreamParameters&, const QString&) {
    return false;
}

bool DeviceDefinitions::undefined(const QString&) {
    return false;
}

#endif
