// SPDX-License-Identifier: GPL-3.0-or-later

#include "terminationsignals.h"

#include "log.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
// [0] is written by the handler, [1] read by the notifier.
int signalPipe[2] = {-1, -1};

void onSignal(int signalNumber) {
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        HSLOG(LogLevel::Warning, "MainWindow") << "Termination signals are not handled";
        return;
    }
    notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kSignals)
        sigaction(signalNumber, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    for (const int signalNumber : kSignals)
        std::signal(signalNumber, SIG_DFL);
    if (signalPipe[0] >= 0) {
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }
}

void TerminationSignals::readSignal() {
    unsigned char byte = 0;
    if (::read(signalPipe[1], &byte, 1) == 1) {
        HSLOG(LogLevel::Notice, "MainWindow") << "Signal " << int(byte) << " received, ending";
        emit terminationRequested(byte);
    }
}

#else

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent) {}

TerminationSignals::~TerminationSignals() = default;

void TerminationSignals::readSignal() {}

#endif
