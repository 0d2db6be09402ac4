// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <QtTest>

// umx-rigsim run as operators and scripts run it, on a free port unless told which. Every line it
// prints is kept, so a check can wait for one.
class RigProcess {
public:
    static constexpr int kWaitMs = 10000;

    explicit RigProcess(const QStringList& arguments, quint16 port = 0) {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
            while (process.canReadLine())
                lines << QString::fromUtf8(process.readLine()).trimmed();
        });
        process.start(
            qEnvironmentVariable("UMX_BIN_DIR") + "/umx-rigsim",
            QStringList{"--listen", QString("127.0.0.1:%1").arg(port), "--udp-in-port", "0"} +
                arguments);
    }
    ~RigProcess() { terminate(); }

    // Whether a line from `from` on matches, once it is there.
    bool waitFor(const QRegularExpression& pattern, int from = 0, int timeoutMs = kWaitMs) {
        return QTest::qWaitFor([&] { return !lines.mid(from).filter(pattern).isEmpty(); },
                               timeoutMs);
    }
    // Waits for the ready line and takes the control channel's address from it.
    bool waitReady() {
        static const QRegularExpression ready(R"(^ready (ws://\S+) udp-in \d+$)");
        if (!waitFor(ready))
            return false;
        url = QUrl(ready.match(lines.filter(ready).constFirst()).captured(1));
        return true;
    }
    // Stops it the way an operator does (SIGTERM) and keeps what it printed last.
    void terminate() {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        process.waitForFinished(kWaitMs);
        lines << QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    QProcess process;
    QStringList lines;
    QUrl url;
};
