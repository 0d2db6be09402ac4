#include "log.h"
#include "logcapture.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <iostream>
#include <thread>
#include <unistd.h>

namespace {

const QRegularExpression
    kLineShape(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d {1,9}[A-Z][a-z]+: [A-Za-z]+: .*$)");

} // namespace

class TestLog : public QObject {
    Q_OBJECT

private slots:
    void init() { currentLogLevel = static_cast<int>(LogLevel::Error); }
    void cleanup() {
        logToFile = false;
        logFile().close();
        currentLogLevel = static_cast<int>(LogLevel::Error);
    }

    void everyLevelHasTheSameColumns() {
        currentLogLevel = static_cast<int>(LogLevel::Debug);
        LogCapture capture;
        for (int level = 0; level <= 7; ++level)
            HSLOG(static_cast<LogLevel>(level), "MainWindow") << "level " << level;
        const QStringList lines = capture.lines();
        QCOMPARE(lines.size(), 8);
        const QStringList tags = {"Emergency", "Alert",  "Critical", "Error",
                                  "Warning",   "Notice", "Info",     "Debug"};
        for (int level = 0; level <= 7; ++level) {
            const QString& line = lines[level];
            QVERIFY2(kLineShape.match(line).hasMatch(), qPrintable(line));
            QCOMPARE(line.mid(19, 10), tags[level].rightJustified(10));
            QCOMPARE(line.mid(29), QString(": MainWindow: level %1").arg(level));
        }
        QVERIFY(capture.text().endsWith('\n'));
    }

    void valuesAreWrittenAsSpecified() {
        LogCapture capture;
        const QString dashed = QString::fromUtf8("ws received \u2014 ");
        HSLOG(LogLevel::Error, "RemoteCtrl")
            << dashed << QString::fromUtf8("Grüße") << " flag=" << true << "," << false
            << " n=" << -42 << " port=" << quint16(4464);
        const QString line = capture.text();
        QVERIFY(line.endsWith(QString::fromUtf8(
            ": RemoteCtrl: ws received \u2014 Grüße flag=1,0 n=-42 port=4464\n")));
    }

    void suppressedStatementsComposeNothing() {
        LogCapture capture;
        int evaluated = 0;
        auto piece = [&evaluated] {
            ++evaluated;
            return "x";
        };
        for (LogLevel level :
             {LogLevel::Warning, LogLevel::Notice, LogLevel::Info, LogLevel::Debug})
            HSLOG(level, "MainWindow") << piece();
        QCOMPARE(evaluated, 0);
        QCOMPARE(capture.text(), QString());
        HSLOG(LogLevel::Error, "MainWindow") << piece();
        QCOMPARE(evaluated, 1);
        QCOMPARE(capture.text().count('\n'), 1);
    }

    void fileIsTruncatedAndFlushedPerLine() {
        QTemporaryDir dir;
        const QString path = dir.filePath("umx.log");
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("a line from an earlier run\n");
        }
        logFile().open(path.toStdString(), std::ios::out | std::ios::trunc);
        logToFile = logFile().is_open();
        QVERIFY(logToFile);

        LogCapture capture;
        HSLOG(LogLevel::Critical, "Settings") << "first";
        QFile reader(path);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        QByteArray content = reader.readAll();
        QVERIFY(content.endsWith("  Critical: Settings: first\n"));
        QCOMPARE(content.count('\n'), 1);

        HSLOG(LogLevel::Info, "Settings") << "suppressed";
        HSLOG(LogLevel::Alert, "Settings") << "second";
        content += reader.readAll();
        QCOMPARE(content.count('\n'), 2);
        QVERIFY(content.endsWith("     Alert: Settings: second\n"));
        QCOMPARE(capture.text().toUtf8(), content);
    }

    void twoThreadsNeverTearALine() {
        QTemporaryDir dir;
        const QString path = dir.filePath("threads.log");
        logFile().open(path.toStdString(), std::ios::out | std::ios::trunc);
        logToFile = logFile().is_open();
        constexpr int kLinesPerThread = 3000;
        // The real standard error (not a string buffer, which is not thread-safe) goes to a file.
        const QString stderrPath = dir.filePath("stderr.log");
        std::fflush(stderr);
        const int savedStderr = ::dup(STDERR_FILENO);
        std::FILE* redirected = std::freopen(stderrPath.toLocal8Bit().constData(), "w", stderr);
        QVERIFY(redirected);
        auto writer = [](const char* category) {
            for (int i = 0; i < kLinesPerThread; ++i)
                HSLOG(LogLevel::Error, category) << "line " << i << " of a somewhat longer message";
        };
        std::thread gui(writer, "MainWindow");
        std::thread worker(writer, "AudioWorker");
        gui.join();
        worker.join();
        std::fflush(stderr);
        ::dup2(savedStderr, STDERR_FILENO);
        ::close(savedStderr);

        const QRegularExpression whole(
            R"(^.{19}     Error: (MainWindow|AudioWorker): line \d+ of a somewhat longer message$)");
        for (const QString& sink : {path, stderrPath}) {
            QFile file(sink);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QStringList lines =
                QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 2 * kLinesPerThread);
            for (const QString& line : lines)
                QVERIFY2(whole.match(line).hasMatch(), qPrintable(line));
        }
    }

    void levelWords() {
        QCOMPARE(logLevelFromWord("debug"), 7);
        QCOMPARE(logLevelFromWord("emergency"), 0);
        QCOMPARE(logLevelFromWord("verbose"), -1);
        QCOMPARE(logLevelFromWord("DEBUG"), -1);
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
