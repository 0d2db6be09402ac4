#include "hsriglink.h"
#include "hssettingsdlg.h"
#include "standinsoundcard.h"
#include "themestylesheet.h"

#include <QtTest>
#include <QtWidgets>

// The three device boxes (cable, capture, speaker): their items, the selected one starred.
static QString deviceBoxes(const QDialog& dialog) {
    QString shown;
    for (const char* name : {"cbOutputSnd", "cbInputSnd", "cbOutputAudio"}) {
        const auto* box = dialog.findChild<QComboBox*>(name);
        for (int i = 0; i < box->count(); ++i)
            shown += (i == box->currentIndex() ? " *" : " ") + box->itemText(i);
        shown += " |";
    }
    return shown;
}

class TestHSSettingsDlg : public QObject {
    Q_OBJECT

    StandInSoundCard card;
    HSRigLink link{&card};

private slots:
    // Devices come from the card and the stored names are selected again; the predefined option
    // chooses the cable's devices. The address list has 127.0.0.1 only when it is stored.
    void devicesAndAddresses() {
        HSSettingsDlg dialog(nullptr, &link);
        dialog.outputDevice = card.kSpeaker;
        dialog.inputDevice = card.kCapture;
        dialog.audioDevice = "Unplugged";
        dialog.UpdateUi();
        QCOMPARE(deviceBoxes(dialog), " Stand-in cable *Stand-in speaker | *Stand-in capture | "
                                      "Stand-in cable Stand-in speaker |");
        QVERIFY(dialog.findChild<QComboBox*>("cbLocalP")->findText("127.0.0.1") < 0);
        dialog.localIP = "127.0.0.1";
        dialog.findChild<QPushButton*>("pbRefreshSnd")->click();
        QCOMPARE(dialog.findChild<QComboBox*>("cbLocalP")->currentText(), "127.0.0.1");
        dialog.findChild<QCheckBox*>("cbUsePredefined")->click();
        QCOMPARE(dialog.outputDevice + ", " + dialog.inputDevice + ", " + dialog.audioDevice,
                 "Line Volume (2- UMX VAC), Line In (UMX VAC), Unplugged");
    }

    // The stored multipliers check their buttons (TX x8 has none: Auto, 1), and each button,
    // clicked in turn, sets its multiplier. Each theme restyles the application at once, and
    // Cancel keeps the last.
    void buffersAndThemes() {
        HSSettingsDlg dialog(nullptr, &link);
        dialog.frameOutMult = 4;
        dialog.frameInMult = 8;
        dialog.UpdateUi();
        QVERIFY(dialog.findChild<QRadioButton*>("chOutFr3")->isChecked());
        QStringList values;
        for (QRadioButton* button : dialog.findChildren<QRadioButton*>()) {
            values << QString("%1 %2").arg(dialog.frameOutMult).arg(dialog.frameInMult);
            button->click();
        }
        values << QString("%1 %2").arg(dialog.frameOutMult).arg(dialog.frameInMult);
        QCOMPARE(values.join(", "), "4 1, 1 1, 2 1, 4 1, 8 1, 8 1, 8 2, 8 3, 8 4");
        auto* themes = dialog.findChild<QComboBox*>("cbTheme");
        QSet<QString> sheets;
        for (int i = 0; i < themes->count(); ++i) {
            themes->setCurrentIndex(i);
            sheets << qApp->styleSheet();
        }
        QCOMPARE(sheets.size(), themes->count()); // "System Default" none, every theme its own
        dialog.reject();
        QCOMPARE(qApp->styleSheet(), *themeStyleSheet("light_blue"));
    }
};

QTEST_MAIN(TestHSSettingsDlg)
#include "tst_hssettingsdlg.moc"
