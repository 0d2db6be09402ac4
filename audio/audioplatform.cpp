// SPDX-License-Identifier: GPL-3.0-or-later

#include "audioplatform.h"

#include "log.h"

#if defined(Q_OS_LINUX)
#include <alsa/asoundlib.h>
#include <pa_linux_alsa.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

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

// A file's identity, size and last change, or that there is none, named `name` in the directory
// `dirFd` refers to (or by its whole path where that is AT_FDCWD).
void stampEntry(QByteArray& stamp, int dirFd, const char* name) {
    struct stat status {};
    stamp += name;
    if (::fstatat(dirFd, name, &status, 0) != 0) {
        stamp += " -\n";
        return;
    }
    char line[96];
    std::snprintf(line, sizeof line, " %llu %lld %lld.%ld\n",
                  static_cast<unsigned long long>(status.st_ino),
                  static_cast<long long>(status.st_size),
                  static_cast<long long>(status.st_mtim.tv_sec), status.st_mtim.tv_nsec);
    stamp += line;
}

// A directory's own stamp and each of its entries': a file added, removed, replaced or written
// shows in it.
void stampDirectory(QByteArray& stamp, const char* path) {
    stampEntry(stamp, AT_FDCWD, path);
    DIR* dir = ::opendir(path);
    if (!dir)
        return;
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    std::sort(names.begin(), names.end());
    for (const QByteArray& name : names)
        stampEntry(stamp, ::dirfd(dir), name.constData());
    ::closedir(dir);
}

// Where ALSA reads its configuration from: the files on ALSA_CONFIG_PATH, or its own alsa.conf and
// what that loads (the configuration directories, the system's and the user's asoundrc). The
// directories' entries are often links into the data directory's alsa.conf.d.
struct ConfigurationPlaces {
    QList<QByteArray> files;
    QList<QByteArray> directories;
    QByteArray linkedDirectory;
};

ConfigurationPlaces configurationPlaces() {
    ConfigurationPlaces places;
    const QByteArray path = qgetenv("ALSA_CONFIG_PATH");
    const QByteArray dataDir = qEnvironmentVariableIsSet("ALSA_CONFIG_DIR")
                                   ? qgetenv("ALSA_CONFIG_DIR")
                                   : QByteArray("/usr/share/alsa");
    for (const QByteArray& file :
         path.isEmpty() ? QList<QByteArray>{dataDir + "/alsa.conf"} : path.split(':'))
        if (!file.isEmpty())
            places.files += file;
    places.directories = {"/var/lib/alsa/conf.d", "/usr/etc/alsa/conf.d", "/etc/alsa/conf.d"};
    places.linkedDirectory = dataDir + "/alsa.conf.d";
    const QByteArray home = QFile::encodeName(QDir::homePath());
    const QByteArray config = qEnvironmentVariableIsSet("XDG_CONFIG_HOME")
                                  ? qgetenv("XDG_CONFIG_HOME")
                                  : home + "/.config";
    places.files += {"/etc/asound.conf", "/usr/etc/asound.conf", home + "/.asoundrc",
                     config + "/alsa/asoundrc"};
    return places;
}

// The state of the files ALSA reads its configuration from.
QByteArray configurationStamp(const ConfigurationPlaces& places) {
    QByteArray stamp;
    for (const QByteArray& file : places.files)
        stampEntry(stamp, AT_FDCWD, file.constData());
    for (const QByteArray& dir : places.directories)
        stampDirectory(stamp, dir.constData());
    return stamp;
}

// The directory a change to `path` shows in: its own where it is one that exists, else that of
// the nearest existing one above it (where the missing ones would be made).
QByteArray watchedDirectory(QByteArray path, bool isDirectory) {
    // A relative path is the working directory's.
    if (!path.startsWith('/'))
        path.prepend("./");
    if (!isDirectory)
        path.truncate(std::max(0, path.lastIndexOf('/')));
    struct stat status {};
    while (!path.isEmpty() && (::stat(path.constData(), &status) != 0 || !S_ISDIR(status.st_mode)))
        path.truncate(std::max(0, path.lastIndexOf('/')));
    return path.isEmpty() ? QByteArray("/") : path;
}

// Watches the directories the configuration's files are in, as inotify watches a directory for
// as long as it lasts; says whether all of them are watched.
bool watchConfiguration(int watch, const ConfigurationPlaces& places) {
    constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB |
                                       IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
    bool all = true;
    auto add = [&](const QByteArray& path, bool isDirectory) {
        all &= ::inotify_add_watch(watch, watchedDirectory(path, isDirectory).constData(),
                                   kChanges) >= 0;
    };
    for (const QByteArray& file : places.files)
        add(file, false);
    for (const QByteArray& dir : places.directories)
        add(dir, true);
    add(places.linkedDirectory, true);
    return all;
}

} // namespace

DeviceDefinitions::~DeviceDefinitions() {
    if (watch >= 0)
        ::close(watch);
}

// At the first look, after any change in the directories watched, and always where they cannot
// all be watched.
bool DeviceDefinitions::configurationMayHaveChanged() {
    if (!watchTried) {
        watchTried = true;
        watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    }
    if (watch < 0)
        return true;
    alignas(inotify_event) char events[4096];
    bool changed = !watching;
    while (::read(watch, events, sizeof events) > 0)
        changed = true;
    return changed;
}

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
    // Watched again (a directory made since is watched from then on), then stamped, before
    // reading: a change made meanwhile is read again next time.
    if (configurationMayHaveChanged()) {
        const ConfigurationPlaces places = configurationPlaces();
        if (watch >= 0)
            watching = watchConfiguration(watch, places);
        if (QByteArray stamp = configurationStamp(places); stamp != answeredAt) {
            answeredAt = std::move(stamp);
            answers.clear();
        }
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
