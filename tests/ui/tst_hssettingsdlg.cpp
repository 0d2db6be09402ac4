// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsriglink.h"
#include "hssettingsdlg.h"
#include "logcapture.h"
#include "standinsoundcard.h"

#include <QtTest>
#include <QtWidgets>

class TestHSSettingsDlg : public QObject {
    Q_OBJECT

    StandInSoundCard card;
    HSRigLink link{&card};

private slots:
    // Every control the keys name is in the form and shows its stored value: the device names in
    // their boxes (cable, capture, speaker; a missing one marked as such), the depths in their
    // buttons (TX x8 has none: Auto, 1). Each button, clicked in turn, sets its depth, each check
    // box switches its flag, and the predefined option chooses the cable's devices. Each theme
    // restyles the application its own way at once, "System Default" removes the style, and
    // Cancel puts back the style the dialog opened with (here as if given on the command line).
    void controlsShowAndTakeTheirValues() {
        PanelSettings stored;
        stored.link.card = {card.kSpeaker, "Unplugged", card.kCapture};
        stored.link.card.frameOutMult = 4;
        stored.link.card.frameInMult = 8;
        stored.window.connectAtStart = true;
        qApp->setStyleSheet("* { color: red }");
        LogCapture log;
        HSSettingsDlg dialog(nullptr, &link, stored);
        QCOMPARE(log.text(), QString());
        QStringList shown;
        for (const char* name : {"outputDeviceCombo", "inputDeviceCombo", "speakerDeviceCombo"})
            shown << dialog.findChild<QComboBox*>(name)->currentText();
        QCOMPARE(shown, (QStringList{"Stand-in speaker", "Stand-in capture",
                                     "Unplugged (not connected)"}));
        QVERIFY(dialog.findChild<QRadioButton*>("rxBuffer4Radio")->isChecked());

        const PanelSettings& chosen = dialog.settings();
        const CardSettings& chosenCard = chosen.link.card;
        QStringList depths;
        for (QRadioButton* button : dialog.findChildren<QRadioButton*>()) {
            button->click();
            depths << QString::number(chosenCard.frameOutMult * 10 + chosenCard.frameInMult);
        }
        QCOMPARE(depths.join(' '), "11 21 41 81 81 82 83 84");
        for (const char* name :
             {"acceptAnySenderCheck", "startWithSessionCheck", "connectAtStartCheck",
              "concealLostAudioCheck", "predefinedDevicesCheck"})
            dialog.findChild<QCheckBox*>(name)->click();
        QCOMPARE((QVector<bool>{chosen.link.acceptAnySender, chosen.window.startWithSession,
                                chosen.window.connectAtStart, chosenCard.concealLostAudio}),
                 (QVector<bool>{true, true, false, false}));
        QCOMPARE(chosenCard.outputDevice + ", " + chosenCard.inputDevice + ", " +
                     chosenCard.audioDevice,
                 "Line Volume (2- UMX VAC), Line In (UMX VAC), Unplugged");

        auto* themes = dialog.findChild<QComboBox*>("themeCombo");
        QStringList sheets;
        for (int i = themes->count(); i-- > 0;) {
            themes->setCurrentIndex(i);
            sheets << qApp->styleSheet();
        }
        QCOMPARE(QSet<QString>(sheets.begin(), sheets.end()).size(), themes->count());
        QCOMPARE(chosen.window.theme, QString("default"));
        dialog.reject();
        QCOMPARE(qApp->styleSheet(), QString("* { color: red }"));
    }
};

QTEST_MAIN(TestHSSettingsDlg)
#include "tst_hssettingsdlg.moc"
