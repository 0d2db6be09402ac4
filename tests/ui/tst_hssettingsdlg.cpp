// The settings dialog over the real sound-card layer (the project's audio server provides the
// virtual cable's devices), answered the way an operator would: clicks and keystrokes.
#include "hsportaudio.h"
#include "hssettingsdlg.h"
#include "log.h"
#include "logcapture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

#include <memory>

namespace {

const QString kCableOut = "Line Volume (2- UMX VAC)";
const QString kCableIn = "Line In (UMX VAC)";

QStringList itemsOf(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

template <typename T>
T* child(QObject* parent, const char* name) {
    T* found = parent->findChild<T*>(name);
    if (!found)
        qFatal("no child %s", name);
    return found;
}

void press(QDialog& dialog, QDialogButtonBox::StandardButton which) {
    child<QDialogButtonBox>(&dialog, "buttonBox")->button(which)->click();
}

} // namespace

class TestHSSettingsDlg : public QObject {
    Q_OBJECT

    HSPortAudio* portAudio = nullptr;

    void fill(HSSettingsDlg& dialog) {
        dialog.outputDevice = kCableOut;
        dialog.inputDevice = kCableIn;
        dialog.audioDevice = kCableOut;
        dialog.localIP = "10.11.12.13";
        dialog.localUDPPort = 16742;
        dialog.frameOutMult = 8;
        dialog.frameInMult = 4;
        dialog.theme = "default";
    }

private slots:
    void initTestCase() {
        portAudio = new HSPortAudio(this);
        portAudio->EnumerateAudioDevices();
        if (!portAudio->outputDevices.contains(kCableOut) ||
            !portAudio->inputDevices.contains(kCableIn))
            QSKIP("the audio server's virtual cable is not running (scripts/audio-server start)");
    }

    void devicesAreListedInCatalogueOrderAndSelectedByName() {
        HSSettingsDlg dialog(nullptr, portAudio);
        fill(dialog);
        dialog.audioDevice = "A speaker that was unplugged";
        dialog.UpdateUi();
        auto* out = child<QComboBox>(&dialog, "cbOutputSnd");
        auto* in = child<QComboBox>(&dialog, "cbInputSnd");
        auto* speaker = child<QComboBox>(&dialog, "cbOutputAudio");
        QCOMPARE(itemsOf(out), portAudio->outputDevices.keys());
        QCOMPARE(itemsOf(speaker), portAudio->outputDevices.keys());
        QCOMPARE(itemsOf(in), portAudio->inputDevices.keys());
        QCOMPARE(out->currentText(), kCableOut);
        QCOMPARE(in->currentText(), kCableIn);
        QCOMPARE(speaker->currentIndex(), -1);

        press(dialog, QDialogButtonBox::Ok);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.audioDevice, QString("A speaker that was unplugged"));
        QCOMPARE(dialog.outputDevice, kCableOut);
        QCOMPARE(dialog.inputDevice, kCableIn);
    }

    void buffersAndPortShowWhatTheyCan() {
        HSSettingsDlg dialog(nullptr, portAudio);
        fill(dialog);
        dialog.frameInMult = 8;
        dialog.frameOutMult = 4;
        dialog.localUDPPort = 50;
        dialog.UpdateUi();
        QVERIFY(child<QRadioButton>(&dialog, "chInFr1")->isChecked());
        QVERIFY(child<QRadioButton>(&dialog, "chOutFr3")->isChecked());
        QVERIFY(!child<QRadioButton>(&dialog, "chOutFr4")->isChecked());
        QCOMPARE(child<QSpinBox>(&dialog, "sbLocalUDPPort")->value(), 100);
        press(dialog, QDialogButtonBox::Ok);
        QCOMPARE(dialog.frameInMult, qint16(1));
        QCOMPARE(dialog.frameOutMult, qint16(4));
        QCOMPARE(dialog.localUDPPort, quint16(50));

        HSSettingsDlg other(nullptr, portAudio);
        fill(other);
        other.UpdateUi();
        child<QRadioButton>(&other, "chOutFr2")->click();
        child<QRadioButton>(&other, "chInFr3")->click();
        auto* port = child<QSpinBox>(&other, "sbLocalUDPPort");
        port->setValue(40000);
        QCOMPARE(other.frameOutMult, qint16(2));
        QCOMPARE(other.frameInMult, qint16(3));
        QCOMPARE(other.localUDPPort, quint16(40000));
    }

    void localAddressList() {
        currentLogLevel = static_cast<int>(LogLevel::Info);
        auto capture = std::make_unique<LogCapture>();
        HSSettingsDlg dialog(nullptr, portAudio);
        fill(dialog);
        dialog.UpdateUi();
        const QString log = capture->text();
        capture.reset();
        currentLogLevel = static_cast<int>(LogLevel::Error);
        QVERIFY(log.endsWith("      Info: Settings: localIP: 10.11.12.13\n"));

        auto* box = child<QComboBox>(&dialog, "cbLocalP");
        const QStringList items = itemsOf(box);
        QVERIFY(!items.contains("127.0.0.1"));
        for (const QString& item : items)
            QVERIFY2(!item.contains(':'), qPrintable(item));
        QCOMPARE(box->currentText(), QString("10.11.12.13"));
        QCOMPARE(items.count("10.11.12.13"), 1);

        // Typing replaces the value with every keystroke; picking an item replaces it again.
        box->lineEdit()->clear();
        QTest::keyClicks(box->lineEdit(), "192.1");
        QCOMPARE(dialog.localIP, QString("192.1"));
        QTest::keyClicks(box->lineEdit(), "68.7.7");
        QCOMPARE(dialog.localIP, QString("192.168.7.7"));
        box->setCurrentIndex(box->findText("10.11.12.13"));
        QCOMPARE(dialog.localIP, QString("10.11.12.13"));

        HSSettingsDlg loopback(nullptr, portAudio);
        fill(loopback);
        loopback.localIP = "127.0.0.1";
        loopback.UpdateUi();
        QCOMPARE(itemsOf(child<QComboBox>(&loopback, "cbLocalP")).count("127.0.0.1"), 1);
    }

    void refreshRereadsWithoutChangingMembers() {
        HSSettingsDlg dialog(nullptr, portAudio);
        fill(dialog);
        dialog.UpdateUi();
        auto* out = child<QComboBox>(&dialog, "cbOutputSnd");
        out->setCurrentIndex(-1);
        QCOMPARE(dialog.outputDevice, QString());
        dialog.outputDevice = kCableOut;
        child<QPushButton>(&dialog, "pbRefreshSnd")->click();
        QCOMPARE(itemsOf(out), portAudio->outputDevices.keys());
        QCOMPARE(out->currentText(), kCableOut);
        QCOMPARE(dialog.outputDevice, kCableOut);
        QCOMPARE(dialog.inputDevice, kCableIn);
        QCOMPARE(dialog.localIP, QString("10.11.12.13"));
        QCOMPARE(dialog.localUDPPort, quint16(16742));
        QCOMPARE(dialog.frameOutMult, qint16(8));
    }

    void themesRestyleTheApplicationAtOnce() {
        qApp->setStyleSheet(QString());
        HSSettingsDlg dialog(nullptr, portAudio);
        fill(dialog);
        QCOMPARE(qApp->styleSheet(), QString());
        dialog.UpdateUi();
        auto* themes = child<QComboBox>(&dialog, "cbTheme");
        QCOMPARE(itemsOf(themes), QStringList({"System Default", "Dark Teal", "Dark Amber",
                                               "Dark Cyan", "Light Blue"}));
        themes->setCurrentIndex(themes->findText("Dark Amber"));
        QCOMPARE(dialog.theme, QString("dark_amber"));
        QVERIFY(qApp->styleSheet().contains("#ffd740"));
        themes->setCurrentIndex(themes->findText("System Default"));
        QCOMPARE(qApp->styleSheet(), QString());
        themes->setCurrentIndex(themes->findText("Light Blue"));
        press(dialog, QDialogButtonBox::Cancel);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(qApp->styleSheet().contains("#2979ff"));
        qApp->setStyleSheet(QString());

        HSSettingsDlg stored(nullptr, portAudio);
        fill(stored);
        stored.theme = "dark_cyan";
        stored.UpdateUi();
        QCOMPARE(child<QComboBox>(&stored, "cbTheme")->currentText(), QString("Dark Cyan"));
        QCOMPARE(qApp->styleSheet(), QString());
    }

    void predefinedDevicesOption() {
        HSSettingsDlg dialog(nullptr, portAudio);
        fill(dialog);
        const QString otherOut = portAudio->outputDevices.lastKey() == kCableOut
                                     ? portAudio->outputDevices.firstKey()
                                     : portAudio->outputDevices.lastKey();
        dialog.outputDevice = otherOut;
        dialog.UpdateUi();
        auto* out = child<QComboBox>(&dialog, "cbOutputSnd");
        auto* in = child<QComboBox>(&dialog, "cbInputSnd");
        QCOMPARE(out->currentText(), otherOut);
        child<QCheckBox>(&dialog, "cbUsePredefined")->click();
        QVERIFY(dialog.usePredefinedDevice);
        QCOMPARE(dialog.outputDevice, kCableOut);
        QCOMPARE(dialog.inputDevice, kCableIn);
        QCOMPARE(out->currentText(), kCableOut);
        QCOMPARE(in->currentText(), kCableIn);
        QVERIFY(!out->isEnabled());
        child<QCheckBox>(&dialog, "cbUsePredefined")->click();
        QVERIFY(!dialog.usePredefinedDevice);
        QVERIFY(out->isEnabled());
        QCOMPARE(dialog.outputDevice, kCableOut);

        HSSettingsDlg reopened(nullptr, portAudio);
        fill(reopened);
        reopened.outputDevice = otherOut;
        reopened.usePredefinedDevice = true;
        reopened.UpdateUi();
        QCOMPARE(child<QComboBox>(&reopened, "cbOutputSnd")->currentText(), kCableOut);
        QCOMPARE(reopened.outputDevice, kCableOut);
    }

    void formIsAsDesigned() {
        HSSettingsDlg dialog(nullptr, portAudio);
        QCOMPARE(dialog.windowTitle(), QString("UMX settings"));
        QVERIFY(dialog.isModal());
        QCOMPARE(child<QPushButton>(&dialog, "pbRefreshSnd")->text(), QString(" Refresh"));
        QCOMPARE(child<QCheckBox>(&dialog, "cbUsePredefined")->text(),
                 QString("  Use predefined UMX devices"));
        QCOMPARE(child<QSpinBox>(&dialog, "sbLocalUDPPort")->minimum(), 100);
        QCOMPARE(child<QSpinBox>(&dialog, "sbLocalUDPPort")->maximum(), 65535);
        QVERIFY(!dialog.windowIcon().isNull());
    }
};

QTEST_MAIN(TestHSSettingsDlg)
#include "tst_hssettingsdlg.moc"
