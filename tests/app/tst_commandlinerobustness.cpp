// Random command lines for the real umx executable: garbage log levels and themes, unknown options,
// missing values, log files nobody can write. Whatever the line, the program ends normally or
// runs; an unknown option or a missing value gives the usage error and exit code 1.
//
// UMX_ROBUSTNESS_SEED repeats a run.
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kCommandLines = 20;
// A started panel is given this long to fall over before it is counted as running.
constexpr int kRunningGraceMs = 1500;

QString junk(QRandomGenerator& random) {
    const QString pieces[] = {"",
                              "debug",
                              "DeBuG",
                              "7",
                              "-1",
                              "verbose",
                              QString(300, QChar('z')),
                              QString::fromUtf8("\xc3\xa4\xe2\x82\xac"),
                              "%s%n%x",
                              "../../etc/passwd",
                              "dark",
                              "default",
                              "light\nblue",
                              QString(1, QChar(0x1F600 & 0xFFFF))};
    return pieces[random.bounded(int(std::size(pieces)))];
}

// One argument list and whether it must fail as a usage error.
QStringList randomLine(QRandomGenerator& random, bool* usageError) {
    QStringList args;
    *usageError = false;
    const int count = random.bounded(1, 5);
    for (int i = 0; i < count; ++i) {
        switch (random.bounded(8)) {
        case 0:
            args << "--log-level" << junk(random);
            break;
        case 1:
            args << "-L" << junk(random);
            break;
        case 2:
            args << "--theme=" + junk(random);
            break;
        case 3:
            args << "--log-file"
                 << (random.bounded(2) ? "/proc/umx.log" : "/nonexistent/dir/umx.log");
            break;
        case 4:
            args << "--no-such-option";
            *usageError = true;
            break;
        case 5:
            args << "-Q";
            *usageError = true;
            break;
        case 6:
            args << "x" + junk(random); // a positional argument is ignored
            break;
        default:
            args << "-t" << junk(random);
            break;
        }
    }
    if (random.bounded(6) == 0) {
        args << "--log-level"; // the value is missing
        *usageError = true;
    }
    return args;
}

} // namespace

class TestCommandLineRobustness : public QObject {
    Q_OBJECT

private slots:
    void randomCommandLinesNeverCrash() {
        const quint32 seed = qEnvironmentVariableIsSet("UMX_ROBUSTNESS_SEED")
                                 ? qEnvironmentVariable("UMX_ROBUSTNESS_SEED").toUInt()
                                 : QRandomGenerator::global()->generate();
        qInfo("seed %u (UMX_ROBUSTNESS_SEED repeats the run)", seed);
        QRandomGenerator random(seed);
        int ran = 0;
        int refused = 0;
        for (int n = 0; n < kCommandLines; ++n) {
            bool usageError = false;
            const QStringList args = randomLine(random, &usageError);
            const QString context =
                QString("seed %1, line %2: umx %3").arg(seed).arg(n).arg(args.join(' '));

            QTemporaryDir tmp;
            QProcess umx;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("TMPDIR", tmp.path());
            env.insert("XDG_CONFIG_HOME", tmp.path());
            umx.setProcessEnvironment(env);
            umx.start(qEnvironmentVariable("UMX_BIN_DIR") + "/umx", args);
            QVERIFY2(umx.waitForStarted(), qPrintable(context));

            if (umx.waitForFinished(kRunningGraceMs)) {
                const QString err = QString::fromUtf8(umx.readAllStandardError());
                QVERIFY2(umx.exitStatus() == QProcess::NormalExit,
                         qPrintable(context + "\n" + err));
                QVERIFY2(usageError, qPrintable(context + ": ended by itself\n" + err));
                QVERIFY2(umx.exitCode() == 1, qPrintable(context));
                QVERIFY2(err.contains("Unknown option") || err.contains("Missing value"),
                         qPrintable(context + "\n" + err));
                ++refused;
            } else {
                QVERIFY2(!usageError, qPrintable(context + ": runs despite a usage error"));
                QCOMPARE(umx.state(), QProcess::Running);
                umx.kill();
                umx.waitForFinished(5000);
                ++ran;
            }
        }
        qInfo("%d lines ran the panel, %d were refused", ran, refused);
    }
};

QTEST_MAIN(TestCommandLineRobustness)
#include "tst_commandlinerobustness.moc"
