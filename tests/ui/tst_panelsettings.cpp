// SPDX-License-Identifier: GPL-3.0-or-later

#include "autostart.h"
#include "logcapture.h"
#include "panelsettings.h"

#include <QtTest>

// A value of a member's kind other than its default (a number within its limits).
QVariant otherThan(int value, int min, int max, Control = {}) {
    return value == max ? min : max;
}
template <typename T, typename... Extras>
QVariant otherThan(const T& value, Extras...) {
    if constexpr (std::is_same_v<T, bool>)
        return !value;
    else if constexpr (std::is_enum_v<T> || std::is_same_v<T, quint16>)
        return 2;
    else if constexpr (std::is_same_v<T, QStringList>)
        return QStringList{"", "10.0.0.1:4590"};
    else
        return QVariant::fromValue(T("\x01t"));
}

class TestPanelSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { currentLogLevel = int(LogLevel::Warning); }

    // Each key stored alone, loaded and saved again: a good value comes back as it was, a damaged
    // one as its default with one Warning that names the key.
    void loadedAndSavedAgain_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("saved");
        QTemporaryDir dir;
        QSettings defaults(dir.filePath("defaults.ini"), QSettings::IniFormat);
        const PanelSettings initial;
        savePanelSettings(defaults, initial);
        forEachSetting(initial, [&](const char* key, const auto& value, auto... extras) {
            const QVariant fallback = defaults.value(key);
            const QVariant good = otherThan(value, extras...);
            QTest::addRow("%s: good", key) << QString(key) << good << good;
            QTest::addRow("%s: wrong type", key) << QString(key) << QVariant(QRect()) << fallback;
            if (!std::is_class_v<std::decay_t<decltype(value)>>)
                QTest::addRow("%s: garbage", key) << QString(key) << QVariant("x") << fallback;
        });
        QTest::newRow("frameOutMult: above its range")
            << "frameOutMult" << QVariant(9) << QVariant(1);
        QTest::newRow("audioOutMode: above its range")
            << "audioOutMode" << QVariant(3) << QVariant(0);
        QTest::newRow("inUDPPort: its low 16 bits")
            << "inUDPPort" << QVariant(70000) << QVariant(4464);
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
        QCOMPARE(log.lines().size(), int(!QString(QTest::currentDataTag()).endsWith(": good")));
        QCOMPARE(log.lines().filter(QRegularExpression(" Warning: MainWindow: .*" + key)).size(),
                 log.lines().size());
    }

    // The autostart entry that starts the panel in the tray with the desktop session; a program
    // path with spaces is quoted.
    void theEntryIsWrittenAndRemoved() {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        QFile entry(config.path() + "/autostart/umx.desktop");
        QVERIFY(setStartWithSession(true) && entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        QVERIFY(text.contains("\nExec=" + QCoreApplication::applicationFilePath() + " --hidden\n"));
        QVERIFY(setStartWithSession(false) && !entry.exists());
        QVERIFY(setStartWithSession(false));
        QVERIFY(
            autostartEntryText("/opt/u mx/umx").contains("\nExec=\"/opt/u mx/umx\" --hidden\n"));
    }
};

QTEST_GUILESS_MAIN(TestPanelSettings)
#include "tst_panelsettings.moc"
