// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "panelsettings.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>

class QRadioButton;
class QSpinBox;
class HSRigLink;

namespace Ui {
class HSSettingsDlg;
}

// Edits a copy of the panel's settings: every setting of the key list that names a control in the
// dialog's form is shown there and taken back from it. A theme choice restyles the whole
// application at once, and Cancel takes it back. The caller reads settings() after an accepted
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
    void reject() override;

private slots:
    void usePredefinedDeviceChecked(bool checked);
    void themeChanged(int idx);

private:
    void bindControls();
    void bind(const char* key, const char* control, bool& value);
    void bind(const char* key, const char* control, QString& value);
    template <typename Number>
    void bind(const char* key, const char* control, Number& value);
    template <typename Number>
    void bindSpinBox(QSpinBox* box, Number& value);
    template <typename Number>
    void bindButtons(const QList<QRadioButton*>& buttons, Number& value);
    void reportMissing(const char* key, const char* control, const char* kind);
    void fillLists();
    void fitToContents();
    void describeControls();

    Ui::HSSettingsDlg* ui;
    HSRigLink* link;
    PanelSettings values;
    // Each bound control's way of showing its value.
    QList<std::function<void()>> showValues;
    // In force when the dialog opened; Cancel puts it back.
    QString openingStyleSheet;
};
