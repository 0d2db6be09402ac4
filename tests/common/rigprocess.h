#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

// umx-rigsim run as a separate process, as operators and scripts run it, on ephemeral ports.
class RigProcess {
public:
    static constexpr int kStartTimeoutMs = 5000;

    static QString program() { return qEnvironmentVariable("UMX_BIN_DIR") + "/umx-rigsim"; }

    explicit RigProcess(const QStringList& arguments) {
        process.start(program(),
                      QStringList{"--listen", "127.0.0.1:0", "--udp-in-port", "0"} + arguments);
    }
    ~RigProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    RigProcess(const RigProcess&) = delete;
    RigProcess& operator=(const RigProcess&) = delete;

    // Reads up to the ready line (notes about fault switches may come first).
    bool waitReady() {
        if (!process.waitForStarted())
            return false;
        static const QRegularExpression readyLine(R"(^ready ws://([0-9.]+:\d+) udp-in (\d+)\n$)");
        while (process.canReadLine() || process.waitForReadyRead(kStartTimeoutMs)) {
            while (process.canReadLine()) {
                const auto match = readyLine.match(QString::fromUtf8(process.readLine()));
                if (match.hasMatch()) {
                    url = QUrl("ws://" + match.captured(1));
                    udpIn = static_cast<quint16>(match.captured(2).toUInt());
                    return true;
                }
            }
        }
        return false;
    }
    // Stops it the way an operator does and returns everything it printed.
    QString terminate() {
        process.terminate();
        process.waitForFinished(kStartTimeoutMs);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    QProcess process;
    QUrl url;
    quint16 udpIn = 0;
};
