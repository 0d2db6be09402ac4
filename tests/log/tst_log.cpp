// SPDX-License-Identifier: GPL-3.0-or-later

#include "log.h"
#include "logcapture.h"

#include <QtTest>

class TestLog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(currentLogLevel, int(LogLevel::Error)); }
    void init() { currentLogLevel = int(LogLevel::Warning); }

    // A statement up to the chosen level is one line, its breaks escaped, stamped with the time;
    // one above it is not even composed.
    void linesUpToTheLevel() {
        QStringList lines;
        int composed = 0;
        for (const LogLevel level : {LogLevel::Warning, LogLevel::Notice}) {
            LogCapture capture;
            HSLOG(level, "MainWindow")
                << ++composed << " " << true << " " << QString("Grüße") << " a\nb\r\nc\r\n\n";
            lines << capture.text();
        }
        QCOMPARE(composed, 1);
        QCOMPARE(lines.last(), QString());
        QCOMPARE(lines.first().mid(19), "   Warning: MainWindow: 1 1 Grüße a\\nb\\r\\nc\n");
        const QDateTime stamp =
            QDateTime::fromString(lines.first().left(19), "yyyy-MM-dd'T'HH:mm:ss");
        QVERIFY(stamp.isValid() && qAbs(stamp.secsTo(QDateTime::currentDateTime())) <= 2);
    }

    // The words of --log-level, in any case; anything else is no level.
    void commandLineWords() {
        QStringList levels;
        for (const char* word : {"emergency", "alert", "critical", "error", "warning", "notice",
                                 "info", "debug", "DEBUG", "Info", "verbose", ""})
            levels << QString::number(logLevelFromWord(word));
        QCOMPARE(levels.join(' '), "0 1 2 3 4 5 6 7 7 6 -1 -1");
    }

    // The file is truncated at its opening and has each line as soon as its statement returns,
    // the same as the console's.
    void fileGetsEachLineAtOnce() {
        QTemporaryDir dir;
        QFile file(dir.filePath("umx.log"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("an earlier run\n") > 0);
        file.close();
        QVERIFY(openLogFile(file.fileName().toStdString()) && file.open(QIODevice::ReadOnly));
        LogCapture capture;
        HSLOG(LogLevel::Alert, "Settings") << "first";
        QCOMPARE(QString(file.readAll()), capture.text());
        logToFile = false;
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
