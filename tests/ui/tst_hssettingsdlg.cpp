// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsriglink.h"
#include "hssettingsdlg.h"
#include "standinsoundcard.h"

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
    // chooses the cable's devices. The address list has 127.0.0.1 only when it is the address.
    void devicesAndAddresses() {
        PanelSettings stored;
        stored.link.outputDevice = card.kSpeaker;
        stored.link.inputDevice = card.kCapture;
        stored.link.audioDevice = "Unplugged";
        stored.link.localIP = "192.0.2.1";
        HSSettingsDlg dialog(nullptr, &link, stored);
        QCOMPARE(deviceBoxes(dialog), " Stand-in cable *Stand-in speaker | *Stand-in capture | "
                                      "Stand-in cable Stand-in speaker |");
        auto* address = dialog.findChild<QComboBox*>("cbLocalP");
        QVERIFY(address->findText("127.0.0.1") < 0);
        address->setEditText("127.0.0.1");
        dialog.findChild<QPushButton*>("pbRefreshSnd")->click();
        QCOMPARE(address->currentText(), "127.0.0.1");
        dialog.findChild<QCheckBox*>("cbUsePredefined")->click();
        const LinkSettings& chosen = dialog.settings().link;
        QCOMPARE(chosen.outputDevice + ", " + chosen.inputDevice + ", " + chosen.audioDevice,
                 "Line Volume (2- UMX VAC), Line In (UMX VAC), Unplugged");
    }

    // The stored depths check their buttons (TX x8 has none: Auto, 1), and each button, clicked
    // in turn, sets its depth; each flag's check box shows and switches its flag. Each theme
    // restyles the application its own way at once, and "System Default" removes the style.
    void buffersFlagsAndThemes() {
        PanelSettings stored;
        stored.link.frameOutMult = 4;
        stored.link.frameInMult = 8;
        stored.connectAtStart = true;
        HSSettingsDlg dialog(nullptr, &link, stored);
        const PanelSettings& chosen = dialog.settings();
        QVERIFY(dialog.findChild<QRadioButton*>("chOutFr3")->isChecked());
        QStringList depths;
        for (QRadioButton* button : dialog.findChildren<QRadioButton*>()) {
            depths << QString("%1 %2").arg(chosen.link.frameOutMult).arg(chosen.link.frameInMult);
            button->click();
        }
        depths << QString("%1 %2").arg(chosen.link.frameOutMult).arg(chosen.link.frameInMult);
        QCOMPARE(depths.join(", "), "4 1, 1 1, 2 1, 4 1, 8 1, 8 1, 8 2, 8 3, 8 4");
        QString flags;
        for (const char* key : {"acceptAnySender", "startWithSession", "connectAtStart"}) {
            flags += QString::number(dialog.findChild<QCheckBox*>(key)->isChecked());
            dialog.findChild<QCheckBox*>(key)->click();
        }
        QCOMPARE(flags + QString("%1%2%3")
                             .arg(chosen.link.acceptAnySender)
                             .arg(chosen.startWithSession)
                             .arg(chosen.connectAtStart),
                 "001110");
        auto* themes = dialog.findChild<QComboBox*>("cbTheme");
        QStringList sheets;
        for (int i = themes->count(); i-- > 0;) {
            themes->setCurrentIndex(i);
            sheets << qApp->styleSheet();
        }
        QCOMPARE(QSet<QString>(sheets.begin(), sheets.end()).size(), themes->count());
        QVERIFY(sheets.last().isEmpty());
        QCOMPARE(chosen.theme, QString("default"));
    }
};

QTEST_MAIN(TestHSSettingsDlg)
#include "tst_hssettingsdlg.moc"
