// SPDX-License-Identifier: GPL-3.0-or-later
// The real umx executable's command line, for what ends it at once: with no display at all (an ssh
// session, a package's post-install check), as it ends before it needs one.
#include <QtTest>

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void endsAtOnce_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("says");
        QTest::newRow("help: every option")
            << QStringList{"--help"} << 0
            << "(?s)-l, --log-file <file>.*-L, --log-level <level>.*-t, --theme <theme>";
        QTest::newRow("Qt's own options taken as in any Qt program")
            << QStringList{"-style=Fusion", "--version", "-session", "ID", "--reverse"} << 0
            << "(?m)^uMX " + QRegularExpression::escape(UMX_VERSION) + "$";
        QTest::newRow("unknown option")
            << QStringList{"--frobnicate"} << 1 << "Unknown option 'frobnicate'";
    }
    void endsAtOnce() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, says);
        qputenv("QT_QPA_PLATFORM", "xcb");
        qunsetenv("DISPLAY");
        QProcess umx;
        umx.setProcessChannelMode(QProcess::MergedChannels);
        umx.start(qEnvironmentVariable("UMX_BIN_DIR") + "/umx", arguments);
        QVERIFY(umx.waitForFinished());
        QTEST(umx.exitCode(), "exitCode");
        const QString output = QString::fromUtf8(umx.readAll());
        QVERIFY2(output.contains(QRegularExpression(says)), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
