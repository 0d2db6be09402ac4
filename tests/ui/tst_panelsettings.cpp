#include "autostart.h"
#include "log.h"
#include "logcapture.h"
#include "panelsettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Each key as key=good value:value when absent, the numbers and flags first.
static const QStringList kKeys =
    QString("frameOutMult=8:1 frameInMult=4:1 selectedRig=0:-1 inUDPPort=4590:16742 "
            "audioOutMode=2:0 speakerOn=1:false settingsUsePredefinedDevice=1:false "
            "acceptAnySender=1:false startWithSession=1:false connectAtStart=1:false "
            "outputDevice=O: inputDevice=I: audioDevice=S: localIP=1.2.3.4:127.0.0.1 "
            "theme=t:default geometry=: windowState=: listRigs=:")
        .split(' ');

class TestPanelSettings : public QObject {
    Q_OBJECT

    static QString key(const QString& k) { return k.section('=', 0, 0); }
    static QVariant good(const QString& k) { return k.section('=', 1).section(':', 0, 0); }
    static QVariant absent(const QString& k) { return k.section(':', 1); }

private slots:
    void initTestCase() { currentLogLevel = int(LogLevel::Warning); }

    // Each key stored with a good value and with each kind of damage, loaded and saved again: a
    // good value comes back as it was; a damaged one as when the key is absent (the port keeps its
    // low 16 bits), with one Warning that names the key.
    void loadedAndSavedAgain_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("saved");
        const QVariant wrongType = QRect(), garbage = QString("x"), bytes = QByteArray("\x01\xff");
        const QVariant rigs = QStringList{"", "10.0.0.1:4590"};
        for (const QString& k : kKeys.mid(0, 15))
            QTest::addRow("%s: good", qPrintable(key(k))) << key(k) << good(k) << good(k);
        for (const QString& k : kKeys)
            QTest::addRow("%s: wrong type", qPrintable(key(k))) << key(k) << wrongType << absent(k);
        for (const QString& k : kKeys.mid(0, 10))
            QTest::addRow("%s: garbage", qPrintable(key(k))) << key(k) << garbage << absent(k);
        QTest::newRow("audioOutMode=3") << QString("audioOutMode") << QVariant("3") << QVariant(0);
        QTest::newRow("port=70000") << QString("inUDPPort") << QVariant("70000") << QVariant(4464);
        QTest::newRow("geometry: good") << QString("geometry") << bytes << bytes;
        QTest::newRow("listRigs: good") << QString("listRigs") << rigs << rigs;
    }
    void loadedAndSavedAgain() {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QTemporaryDir dir;
        QSettings store(dir.filePath("uMX.ini"), QSettings::IniFormat);
        store.setValue(key, stored);
        LogCapture log;
        savePanelSettings(store, loadPanelSettings(store));
        QTEST(store.value(key), "saved");
        QCOMPARE(log.lines().size(), int(store.value(key) != stored));
        QCOMPARE(log.lines().filter(QRegularExpression(" Warning: MainWindow: .*" + key)).size(),
                 log.lines().size());
    }

    // The autostart entry that starts the panel in the tray with the desktop session.
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
        // A program path with spaces is quoted.
        QVERIFY(
            autostartEntryText("/opt/u mx/umx").contains("\nExec=\"/opt/u mx/umx\" --hidden\n"));
    }
};

QTEST_GUILESS_MAIN(TestPanelSettings)
#include "tst_panelsettings.moc"
