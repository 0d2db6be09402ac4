// SPDX-License-Identifier: GPL-3.0-or-later
// Receiving end of the rig simulator's audio pacing measurement: plays the panel's part of the
// control exchange, timestamps every datagram from the monotonic clock in a blocking receive
// thread, and prints the mean rate and the spread of the gaps against the nominal schedule.
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kNsPerSecond = 1e9;
constexpr double kNsPerMs = 1e6;

double nowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * kNsPerSecond + static_cast<double>(now.tv_nsec);
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[index];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ws://ADDRESS:PORT SECONDS\n", argv[0]);
        return 2;
    }
    const QUrl url(QString::fromLocal8Bit(argv[1]));
    const int seconds = std::atoi(argv[2]);

    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(local);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        std::perror("udp socket");
        return 1;
    }
    timeval timeout{0, 200000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));

    std::vector<double> arrivals;
    std::vector<int> sizes;
    // The kernel's receive time of each datagram: free of this program's own scheduling delays.
    std::vector<double> kernelStamps;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
    arrivals.reserve(static_cast<std::size_t>(seconds) * 1000);
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        // Timestamps taken late by a preempted receiver would count against the sender.
        sched_param param{};
        param.sched_priority = 10;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        std::vector<char> buffer(65536);
        char control[CMSG_SPACE(sizeof(timespec))];
        while (!done.load()) {
            iovec io{buffer.data(), buffer.size()};
            msghdr message{};
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof(control);
            const ssize_t got = ::recvmsg(fd, &message, 0);
            if (got < 0)
                continue;
            arrivals.push_back(nowNs());
            sizes.push_back(static_cast<int>(got));
            const cmsghdr* header = CMSG_FIRSTHDR(&message);
            if (header != nullptr && header->cmsg_level == SOL_SOCKET &&
                header->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(header), sizeof(stamp));
                kernelStamps.push_back(static_cast<double>(stamp.tv_sec) * kNsPerSecond +
                                       static_cast<double>(stamp.tv_nsec));
            }
        }
    });

    int sampleRate = 0;
    int frameSize = 0;
    QWebSocket socket;
    QObject::connect(&socket, &QWebSocket::connected, [&] {
        const QJsonObject info{{"message", "localInfo"},
                               {"localAddress", "127.0.0.1"},
                               {"localPort", ntohs(local.sin_port)}};
        socket.sendTextMessage(QString::fromUtf8(QJsonDocument(info).toJson()));
    });
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString& text) {
        const QJsonObject host = QJsonDocument::fromJson(text.toUtf8()).object();
        sampleRate = host.value("sampleRate").toInt();
        frameSize = host.value("frameSize").toInt();
        socket.sendTextMessage(QStringLiteral("{\"message\": \"startOutput\"}"));
        QTimer::singleShot(seconds * 1000, &app, [&] {
            socket.sendTextMessage(QStringLiteral("{\"message\": \"stopOutput\"}"));
            socket.close();
            QTimer::singleShot(300, &app, &QCoreApplication::quit);
        });
    });
    QObject::connect(&socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), [&] {
        std::fprintf(stderr, "control channel: %s\n", qPrintable(socket.errorString()));
        QCoreApplication::exit(1);
    });
    socket.open(url);
    const int status = QCoreApplication::exec();
    done = true;
    receiver.join();
    ::close(fd);
    if (status != 0 || arrivals.size() < 3 || sampleRate <= 0 || frameSize <= 0) {
        std::fprintf(stderr, "no usable stream (%zu datagrams)\n", arrivals.size());
        return 1;
    }

    const double nominalRate = static_cast<double>(sampleRate) / frameSize;
    const double nominalGapMs = 1000.0 / nominalRate;
    const double spanS = (arrivals.back() - arrivals.front()) / kNsPerSecond;
    const double rate = static_cast<double>(arrivals.size() - 1) / spanS;
    const auto gapDeviations = [nominalGapMs](const std::vector<double>& times) {
        std::vector<double> out;
        for (std::size_t i = 1; i < times.size(); ++i)
            out.push_back(std::abs((times[i] - times[i - 1]) / kNsPerMs - nominalGapMs));
        return out;
    };
    const std::vector<double> deviations = gapDeviations(arrivals);
    const auto wrongSize =
        std::count_if(sizes.begin(), sizes.end(), [&](int size) { return size != frameSize * 4; });

    std::printf("datagrams received        %zu over %.3f s (%ld of a size other than %d bytes)\n",
                arrivals.size(), spanS, static_cast<long>(wrongSize), frameSize * 4);
    std::printf("mean datagram rate        %.4f /s, nominal %.4f /s, error %+.4f %% (target "
                "within 0.1 %%)\n",
                rate, nominalRate, (rate / nominalRate - 1.0) * 100.0);
    std::printf("gap deviation from %.3f ms: median %.3f ms, p99 %.3f ms (target within 2 ms), "
                "max %.3f ms\n",
                nominalGapMs, percentile(deviations, 0.5), percentile(deviations, 0.99),
                percentile(deviations, 1.0));
    if (kernelStamps.size() == arrivals.size()) {
        const std::vector<double> kernel = gapDeviations(kernelStamps);
        std::printf("  by kernel receive time: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                    percentile(kernel, 0.5), percentile(kernel, 0.99), percentile(kernel, 1.0));
    }
    return 0;
}
