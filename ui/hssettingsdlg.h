// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "panelsettings.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <utility>

class QCheckBox;
class QRadioButton;
class HSRigLink;

namespace Ui {
class HSSettingsDlg;
}

// Edits a copy of the panel's settings: the three sound devices, the buffer depths, the local
// address and UDP port, the theme and the flags of the settings' table, each a check box. A theme
// choice restyles the whole application at once. The caller reads settings() after an accepted
// exec(); the dialog stores nothing itself.
class HSSettingsDlg : public QDialog {
    Q_OBJECT

public:
    HSSettingsDlg(QWidget* parent, HSRigLink* link, const PanelSettings& settings);
    ~HSSettingsDlg() override;

    const PanelSettings& settings() const { return values; }

public slots:
    // Lists the devices and addresses afresh and shows the values.
    void UpdateUi();

private slots:
    void indexOutChanged(int idx);
    void indexAudioChanged(int idx);
    void indexInChanged(int idx);
    void localIPChanged(int idx);
    void localIpTextInChanged(QString str);
    void localUDPPortChanged(int idx);
    void usePredefinedDeviceChecked(bool checked);
    void themeChanged(int idx);

private:
    void connectValueSlots();
    void disconnectValueSlots();
    QList<std::pair<int, QRadioButton*>> rxButtons() const;
    QList<std::pair<int, QRadioButton*>> txButtons() const;
    void connectBufferButtons();
    void addOptions();
    void describeControls();
    void addOption(const char* key, bool& value, const SettingOption& option);
    void applyPredefinedDevices();

    Ui::HSSettingsDlg* ui;
    HSRigLink* link;
    PanelSettings values;
    // The check boxes of the table's flags and the values they switch.
    QList<std::pair<QCheckBox*, bool*>> options;
};
