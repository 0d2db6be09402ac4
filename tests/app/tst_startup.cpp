// Drives the real umx executable: command line, log level words, the single-instance lock and the
// theme choice, each in a private temporary folder so the lock never meets a real instance.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString umxPath() {
    return qEnvironmentVariable("UMX_BIN_DIR") + "/umx";
}

class Umx {
public:
    explicit Umx(const QString& tempDir) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tempDir);
        process.setProcessEnvironment(env);
    }
    ~Umx() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    void start(const QStringList& args) { process.start(umxPath(), args); }
    // Waits until standard error holds the text or the process ends.
    bool waitForStderr(const QString& text, int timeoutMs = 10000) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            stderrText += QString::fromUtf8(process.readAllStandardError());
            if (stderrText.contains(text))
                return true;
            if (process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(100);
        }
        return false;
    }
    QProcess process;
    QString stderrText;
};

QString runToEnd(const QStringList& args) {
    QTemporaryDir tmp;
    Umx umx(tmp.path());
    umx.start(args);
    umx.process.waitForFinished(10000);
    return QString::fromUtf8(umx.process.readAllStandardOutput());
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void versionAndHelp() {
        QCOMPARE(runToEnd({"--version"}).trimmed(), QString("uMX 1.5.2"));
        const QString help = runToEnd({"--help"});
        for (const char* text :
             {"UMX Control Panel - HOSKA remote audio bridge", "-l, --log-file <file>",
              "Write log output to <file>.", "-L, --log-level <level>", "-t, --theme <theme>"})
            QVERIFY2(help.contains(text), text);
        // Qt wraps long help texts anywhere; compare them without white space.
        const QString compact = QString(help).remove(QRegularExpression(R"(\s)"));
        QVERIFY(compact.contains("Setloglevel:emergency|alert|critical|error|warning|notice|info|"
                                 "debug(default:error)."));
        QVERIFY(compact.contains("SetUItheme:default|dark_teal|dark_amber|dark_cyan|light_blue."));
    }

    void levelWordsAreCaseFolded() {
        QTemporaryDir tmp;
        const QString logPath = tmp.filePath("umx.log");
        Umx debug(tmp.path());
        debug.start({"--log-level", "DEBUG", "--log-file", logPath, "--theme", "dark_teal"});
        QVERIFY2(debug.waitForStderr("Info: MainWindow: Theme dark_teal: style sheet installed"),
                 qPrintable(debug.stderrText));
        QFile logFile(logPath);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        QVERIFY(logFile.readAll().contains("Theme dark_teal: style sheet installed\n"));
        debug.process.kill();
        debug.process.waitForFinished();

        // An unknown word leaves the level at Error: the Info line never appears.
        Umx verbose(tmp.path());
        verbose.start({"--log-level", "verbose"});
        QVERIFY(verbose.process.waitForStarted());
        QVERIFY(!verbose.waitForStderr("Theme", 1500));
        QCOMPARE(verbose.process.state(), QProcess::Running);
    }

    void themeNamesAreCaseSensitive() {
        QTemporaryDir tmp;
        Umx umx(tmp.path());
        umx.start({"--log-level", "info", "--theme", "Dark_Teal"});
        QVERIFY2(umx.waitForStderr("Theme Dark_Teal: no style sheet"), qPrintable(umx.stderrText));
    }

    void secondInstanceIsRefused() {
        QTemporaryDir tmp;
        Umx first(tmp.path());
        first.start({"--log-level", "info"});
        QVERIFY(first.waitForStderr("Theme"));

        Umx second(tmp.path());
        QElapsedTimer clock;
        clock.start();
        second.start({});
        QVERIFY(second.process.waitForStarted());
        // The warning box is the only window titled like this; answer it with Return.
        QProcess xdotool;
        xdotool.start("xdotool", {"search", "--sync", "--name", "^UMX Control Panel$", "key",
                                  "--window", "%1", "Return"});
        QVERIFY(xdotool.waitForFinished(10000));
        QVERIFY(second.process.waitForFinished(10000));
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 1);
        QVERIFY(clock.elapsed() >= 100);
        QCOMPARE(first.process.state(), QProcess::Running);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
