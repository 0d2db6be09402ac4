// SPDX-License-Identifier: GPL-3.0-or-later
// umx-rigsim: a stand-in for the remote host at the rig's end, for tests, demonstrations and
// trying the panel without a rig.
#include "rigsimoptions.h"
#include "rigsimulator.h"
#include "wavfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kExitBadOptions = 2;
constexpr int kExitCannotStart = 1;

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    RigSimulator::shutdownRequested = true;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[0], &byte, 1);
}

void complain(const QString& text) {
    std::fprintf(stderr, "umx-rigsim: error: %s\n", text.toLocal8Bit().constData());
}

bool loadWav(const QString& path, int sampleRate, QByteArray* stereo) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    QString error;
    const std::optional<WavAudio> audio = parseWav(file.readAll(), &error);
    if (!audio || audio->samples.isEmpty()) {
        complain(QStringLiteral("%1: %2").arg(path, audio ? QStringLiteral("no samples") : error));
        return false;
    }
    if (audio->sampleRate != sampleRate)
        say(QStringLiteral("warning: %1 is at %2 Hz, streamed at %3 Hz")
                .arg(path)
                .arg(audio->sampleRate)
                .arg(sampleRate));
    *stereo = toStereo(*audio);
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const ParsedOptions parsed = parseRigSimOptions(QCoreApplication::arguments());
    switch (parsed.outcome) {
    case OptionsOutcome::ShowHelp:
    case OptionsOutcome::ShowVersion:
        std::fputs(parsed.text.toLocal8Bit().constData(), stdout);
        std::fputc('\n', stdout);
        return 0;
    case OptionsOutcome::Error:
        complain(parsed.text + QStringLiteral(" (see --help)"));
        return kExitBadOptions;
    case OptionsOutcome::Run:
        break;
    }

    QByteArray stereoLoop;
    if (!parsed.options.wavPath.isEmpty() &&
        !loadWav(parsed.options.wavPath, parsed.options.sampleRate, &stereoLoop))
        return kExitCannotStart;

    // Signals only write a byte; the event loop reads it and quits, so shutdown runs normally.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        complain(QStringLiteral("cannot create the signal socket pair"));
        return kExitCannotStart;
    }
    QSocketNotifier notifier(signalPipe[1], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&notifier] {
        notifier.setEnabled(false);
        char byte = 0;
        [[maybe_unused]] const ssize_t ignored = ::read(signalPipe[1], &byte, 1);
        say(QStringLiteral("shutting down"));
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    int status = 0;
    {
        RigSimulator simulator(parsed.options, stereoLoop);
        QString error;
        if (!simulator.start(&error)) {
            complain(error);
            return kExitCannotStart;
        }
        say(simulator.readyLine());
        status = QCoreApplication::exec();
    }
    say(QStringLiteral("stopped"));
    return status;
}
