// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsriglink.h"
#include "hssettingsdlg.h"
#include "standinsoundcard.h"

#include <QtTest>
#include <QtWidgets>

class TestHSSettingsDlg : public QObject {
    Q_OBJECT

    StandInSoundCard card;
    HSRigLink link{&card};

private slots:
    // Devices come from the card and the stored names are selected again in the three boxes
    // (cable, capture, speaker), a missing one not at all; the predefined option chooses the
    // cable's devices.
    void devicesAndPredefined() {
        PanelSettings stored;
        stored.link.card.outputDevice = card.kSpeaker;
        stored.link.card.inputDevice = card.kCapture;
        stored.link.card.audioDevice = "Unplugged";
        HSSettingsDlg dialog(nullptr, &link, stored);
        QStringList selected;
        for (const char* name : {"cbOutputSnd", "cbInputSnd", "cbOutputAudio"})
            selected << dialog.findChild<QComboBox*>(name)->currentText();
        QCOMPARE(selected, (QStringList{"Stand-in speaker", "Stand-in capture", ""}));
        dialog.findChild<QCheckBox*>("cbUsePredefined")->click();
        const LinkSettings& chosen = dialog.settings().link;
        QCOMPARE(chosen.card.outputDevice + ", " + chosen.card.inputDevice + ", " +
                     chosen.card.audioDevice,
                 "Line Volume (2- UMX VAC), Line In (UMX VAC), Unplugged");
    }

    // The stored depths check their buttons (TX x8 has none: Auto, 1), and each button, clicked
    // in turn, sets its depth; each flag's check box, clicked, switches the flag it shows. Each
    // theme restyles the application its own way at once, and "System Default" removes the style.
    void buffersFlagsAndThemes() {
        PanelSettings stored;
        stored.link.card.frameOutMult = 4;
        stored.link.card.frameInMult = 8;
        stored.connectAtStart = true;
        HSSettingsDlg dialog(nullptr, &link, stored);
        const PanelSettings& chosen = dialog.settings();
        QVERIFY(dialog.findChild<QRadioButton*>("chOutFr3")->isChecked());
        const auto depth = [&] {
            return QString("%1 %2")
                .arg(chosen.link.card.frameOutMult)
                .arg(chosen.link.card.frameInMult);
        };
        QStringList depths{depth()};
        for (QRadioButton* button : dialog.findChildren<QRadioButton*>()) {
            button->click();
            depths << depth();
        }
        QCOMPARE(depths.join(", "), "4 1, 1 1, 2 1, 4 1, 8 1, 8 1, 8 2, 8 3, 8 4");
        for (const char* key : {"acceptAnySender", "startWithSession", "connectAtStart"})
            dialog.findChild<QCheckBox*>(key)->click();
        QCOMPARE(QString("%1%2%3")
                     .arg(chosen.link.acceptAnySender)
                     .arg(chosen.startWithSession)
                     .arg(chosen.connectAtStart),
                 "110");
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
