// Damaged settings stores loaded by the real window: every file is a fresh store holding valid
// values, wrong values of known kinds (wrong type, out of range, huge, negative, binary) and, for
// some files, broken INI syntax and random bytes. The window must come up and go down, take the
// default for each wrong key, say so in a Warning naming the key, and write sane values back.
//
// UMX_ROBUSTNESS_FILES sets how many files (default below), UMX_ROBUSTNESS_SEED repeats a run.
#include "log.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <iostream>
#include <sstream>

namespace {

// A window costs about a second here, nearly all of it the sound-card layer probing its devices,
// so CI loads a modest number of densely damaged stores; a long local run sets
// UMX_ROBUSTNESS_FILES to thousands.
constexpr int kDefaultFileCount = 40;

enum class Kind { Int, Bool, String, StringList, Bytes, Port };

struct Key {
    const char* name;
    Kind kind;
    int min;
    int max;
    int defaultValue;
};

// The store's keys with their ranges and defaults as the window applies them.
const Key kKeys[] = {
    {"geometry", Kind::Bytes, 0, 0, 0},      {"windowState", Kind::Bytes, 0, 0, 0},
    {"speakerOn", Kind::Bool, 0, 1, 0},      {"frameOutMult", Kind::Int, 1, 8, 1},
    {"frameInMult", Kind::Int, 1, 8, 1},     {"settingsUsePredefinedDevice", Kind::Bool, 0, 1, 0},
    {"listRigs", Kind::StringList, 0, 0, 0}, {"selectedRig", Kind::Int, -1, -1, -1},
    {"outputDevice", Kind::String, 0, 0, 0}, {"inputDevice", Kind::String, 0, 0, 0},
    {"audioDevice", Kind::String, 0, 0, 0},  {"inUDPPort", Kind::Port, 0, 65535, 16742},
    {"localIP", Kind::String, 0, 0, 0},      {"audioOutMode", Kind::Int, 0, 2, 0},
    {"theme", Kind::String, 0, 0, 0},
};

// Values the INI reader turns into something other than the key's type.
const char* const kForeignTypes[] = {"@Rect(1 2 3 4)", "@Size(-5 7)", "@Point(0 0)",
                                     "@ByteArray(\\0\\x1\\xff)"};

class StderrCapture {
public:
    StderrCapture()
        : old(std::cerr.rdbuf(captured.rdbuf())) {}
    ~StderrCapture() { std::cerr.rdbuf(old); }
    QString text() const { return QString::fromStdString(captured.str()); }

private:
    std::ostringstream captured;
    std::streambuf* old;
};

QByteArray randomBytes(QRandomGenerator& random, int count) {
    QByteArray bytes(count, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random.bounded(256));
    return bytes;
}

// One damaged store: the INI text and the keys whose value must be reported and replaced.
struct Store {
    QByteArray text;
    QStringList wrongKeys;
    bool syntaxBroken = false;
};

QByteArray wrongValue(QRandomGenerator& random, const Key& key) {
    const QByteArray foreign = kForeignTypes[random.bounded(int(std::size(kForeignTypes)))];
    switch (key.kind) {
    case Kind::Int:
    case Kind::Port: {
        const QByteArray candidates[] = {"abc",
                                         "12abc",
                                         "1e3",
                                         "99999999999999999999",
                                         QByteArray::number(key.max + 1 + random.bounded(1000)),
                                         QByteArray::number(key.min - 1 - random.bounded(1000)),
                                         "-9223372036854775808",
                                         foreign};
        return candidates[random.bounded(int(std::size(candidates)))];
    }
    case Kind::Bool: {
        const QByteArray candidates[] = {"maybe", "2", "-1", "yes", foreign};
        return candidates[random.bounded(int(std::size(candidates)))];
    }
    case Kind::String:
    case Kind::StringList:
    case Kind::Bytes:
        return foreign == "@ByteArray(\\0\\x1\\xff)" && key.kind == Kind::Bytes ? "@Rect(0 0 1 1)"
                                                                                : foreign;
    }
    return {};
}

QByteArray validValue(QRandomGenerator& random, const Key& key) {
    switch (key.kind) {
    case Kind::Int:
        return QByteArray::number(key.min + random.bounded(key.max - key.min + 1));
    case Kind::Port:
        return QByteArray::number(random.bounded(65536));
    case Kind::Bool:
        return random.bounded(2) ? "true" : "false";
    case Kind::String:
        return "\"" + randomBytes(random, random.bounded(40)).toPercentEncoding() + "\"";
    case Kind::StringList:
        return "127.0.0.1:4590, \"[::1]:4590\"";
    case Kind::Bytes:
        return "@ByteArray(" + randomBytes(random, random.bounded(64)).toPercentEncoding() + ")";
    }
    return {};
}

Store makeStore(QRandomGenerator& random) {
    Store store;
    store.text = "[General]\n";
    for (const Key& key : kKeys) {
        const int roll = random.bounded(100);
        if (roll < 20)
            continue;
        QByteArray value;
        if (roll < 55) {
            value = wrongValue(random, key);
            store.wrongKeys << key.name;
        } else {
            value = validValue(random, key);
        }
        store.text += QByteArray(key.name) + "=" + value + "\n";
    }
    // Every fourth store is damaged beyond its values: junk lines, an unterminated section, a
    // huge line, random bytes, unknown keys with binary names.
    if (random.bounded(4) == 0) {
        store.syntaxBroken = true;
        const QByteArray junk[] = {"[General\n",
                                   "=no key\n",
                                   "frameOutMult\n",
                                   "speakerOn==true==\n",
                                   "@Variant(" + randomBytes(random, 24).toPercentEncoding() +
                                       ")=1\n",
                                   "listRigs=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xff)\n",
                                   QByteArray(70000, 'x') + "\n",
                                   randomBytes(random, 1 + random.bounded(512)),
                                   "[\xff\xfe]\nkey=\"unterminated\n"};
        const int count = 1 + random.bounded(4);
        for (int i = 0; i < count; ++i) {
            const QByteArray& piece = junk[random.bounded(int(std::size(junk)))];
            const int at = random.bounded(store.text.size() + 1);
            store.text.insert(at, piece);
        }
    }
    return store;
}

} // namespace

class TestSettingsRobustness : public QObject {
    Q_OBJECT

    QTemporaryDir root;

    // Loads one store into a window, closes it and returns what the window said.
    QString runWindow(const QString& folder) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
        StderrCapture capture;
        {
            MainWindow window;
            QCoreApplication::processEvents();
        }
        return capture.text();
    }

private slots:
    void initTestCase() {
        QVERIFY(root.isValid());
        currentLogLevel = static_cast<int>(LogLevel::Warning);
    }

    void damagedStoresGiveDefaultsAndWarnings() {
        const quint32 seed = qEnvironmentVariableIsSet("UMX_ROBUSTNESS_SEED")
                                 ? qEnvironmentVariable("UMX_ROBUSTNESS_SEED").toUInt()
                                 : QRandomGenerator::global()->generate();
        const int files = qEnvironmentVariableIsSet("UMX_ROBUSTNESS_FILES")
                              ? qEnvironmentVariableIntValue("UMX_ROBUSTNESS_FILES")
                              : kDefaultFileCount;
        qInfo("seed %u, %d files (UMX_ROBUSTNESS_SEED repeats the run)", seed, files);
        QRandomGenerator random(seed);
        QElapsedTimer clock;
        clock.start();

        for (int n = 0; n < files; ++n) {
            const Store store = makeStore(random);
            // A new folder per store: the settings cache never serves an earlier file.
            const QString folder = root.filePath(QString::number(n));
            QVERIFY(QDir().mkpath(folder + "/Hoska"));
            QFile file(folder + "/Hoska/uMX.conf");
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(store.text);
            file.close();

            const QString said = runWindow(folder);

            const QString context = QString("file %1 (seed %2)").arg(n).arg(seed);
            if (!store.syntaxBroken) {
                for (const QString& key : store.wrongKeys)
                    QVERIFY2(
                        said.contains(
                            QString("MainWindow: Setting \"%1\" has an invalid value").arg(key)),
                        qPrintable(context + ": no warning for " + key + "\n" + store.text));
            }

            // What the window wrote back is in range whatever it read.
            QSettings written(folder + "/Hoska/uMX.conf", QSettings::IniFormat);
            for (const Key& key : kKeys) {
                const QVariant value = written.value(key.name);
                QVERIFY2(value.isValid() || key.kind == Kind::StringList,
                         qPrintable(context + ": " + key.name + " not written back"));
                if (key.kind == Kind::Int || key.kind == Kind::Port) {
                    bool ok = false;
                    const int number = value.toInt(&ok);
                    const int max = QByteArray(key.name) == "selectedRig" ? 1000 : key.max;
                    QVERIFY2(ok && number >= key.min && number <= max,
                             qPrintable(context + ": " + key.name + "=" + value.toString()));
                    if (!store.syntaxBroken && store.wrongKeys.contains(key.name) &&
                        key.kind == Kind::Int)
                        QCOMPARE(number, key.defaultValue);
                }
                if (key.kind == Kind::Bool && !store.syntaxBroken &&
                    store.wrongKeys.contains(key.name))
                    QCOMPARE(value.toString(), QString("false"));
            }
            QVERIFY(QDir(folder).removeRecursively());
        }
        qInfo("%d stores in %lld ms", files, clock.elapsed());
    }
};

QTEST_MAIN(TestSettingsRobustness)
#include "tst_settingsrobustness.moc"
