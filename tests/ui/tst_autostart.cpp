// The autostart entry that starts the panel in the tray with the desktop session.
#include "autostart.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class Autostart : public QObject {
    Q_OBJECT

private slots:
    void theEntryIsWrittenAndRemoved() {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        QCOMPARE(autostartEntryPath(), config.path() + "/autostart/umx.desktop");
        QVERIFY(setStartWithSession(true));
        QFile entry(autostartEntryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        QVERIFY(text.contains("\nExec=" + QCoreApplication::applicationFilePath() + " --hidden\n"));
        QVERIFY(text.contains("\nX-GNOME-Autostart-enabled=true\n"));
        QVERIFY(setStartWithSession(false));
        QVERIFY(!QFile::exists(autostartEntryPath()));
        QVERIFY(setStartWithSession(false));
    }

    void programPathsWithSpacesAreQuoted() {
        QVERIFY(
            autostartEntryText("/opt/u mx/umx").contains("\nExec=\"/opt/u mx/umx\" --hidden\n"));
        QVERIFY(autostartEntryText("/usr/bin/umx").contains("\nExec=/usr/bin/umx --hidden\n"));
    }
};

QTEST_GUILESS_MAIN(Autostart)
#include "tst_autostart.moc"
