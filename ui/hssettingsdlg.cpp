// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssettingsdlg.h"
#include "ui_hssettingsdlg.h"

#include "hsriglink.h"
#include "log.h"
#include "themestylesheet.h"

#include <QApplication>
#include <QListView>
#include <QNetworkInterface>
#include <QSignalBlocker>

namespace {

constexpr const char* kCategory = "Settings";
// The virtual cable's own devices, which "Use predefined UMX devices" selects.
const QString kPredefinedOutputDevice = QStringLiteral("Line Volume (2- UMX VAC)");
const QString kPredefinedInputDevice = QStringLiteral("Line In (UMX VAC)");

void selectDevice(QComboBox* box, const QString& name) {
    const QSignalBlocker quiet(box);
    box->setCurrentIndex(box->findData(name));
}

// Each device's item carries its name. The device the settings name that is not there now stays
// listed, marked, so that the choice is kept and seen.
void fillDevices(QComboBox* box, const QStringList& names, const QString& chosen) {
    const QSignalBlocker quiet(box);
    box->clear();
    for (const QString& name : names)
        box->addItem(name, name);
    if (!chosen.isEmpty() && !names.contains(chosen))
        box->addItem(QString("%1 (not connected)").arg(chosen), chosen);
}

void refill(QComboBox* box, const QStringList& items) {
    const QSignalBlocker quiet(box);
    box->clear();
    box->addItems(items);
}

template <class... Visitors>
struct Overloaded : Visitors... {
    using Visitors::operator()...;
};
template <class... Visitors>
Overloaded(Visitors...) -> Overloaded<Visitors...>;

} // namespace

HSSettingsDlg::HSSettingsDlg(QWidget* parent, HSRigLink* link, const PanelSettings& settings)
    : QDialog(parent)
    , ui(new Ui::HSSettingsDlg)
    , link(link)
    , values(settings)
    , openingStyleSheet(qApp->styleSheet()) {
    ui->setupUi(this);
    ui->localAddressCombo->setView(new QListView(ui->localAddressCombo));
    // Filled before anything listens, so that opening the dialog applies no theme.
    for (const QString& theme : QStringList{kDefaultTheme} + themeIds())
        ui->themeCombo->addItem(themeTitle(theme), theme);
    bindControls();
    describeControls();
    connect(ui->refreshDevicesButton, &QPushButton::clicked, this, &HSSettingsDlg::UpdateUi);
    connect(ui->predefinedDevicesCheck, &QCheckBox::toggled, this,
            &HSSettingsDlg::usePredefinedDeviceChecked);
    connect(ui->themeCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &HSSettingsDlg::themeChanged);
    UpdateUi();
}

// The labels name their fields for a screen reader, and every control says what it sets.
void HSSettingsDlg::describeControls() {
    const std::pair<QLabel*, QWidget*> labelled[] = {
        {ui->outputDeviceLabel, ui->outputDeviceCombo},
        {ui->inputDeviceLabel, ui->inputDeviceCombo},
        {ui->speakerDeviceLabel, ui->speakerDeviceCombo},
        {ui->localAddressLabel, ui->localAddressCombo},
        {ui->udpPortLabel, ui->udpPortSpin},
        {ui->themeLabel, ui->themeCombo},
    };
    for (const auto& [label, field] : labelled)
        label->setBuddy(field);
    // The form describes its controls; the buttons the button box makes, and each radio button (as
    // its group), are described here.
    ui->buttonBox->button(QDialogButtonBox::Ok)->setAccessibleDescription("Keeps these settings");
    ui->buttonBox->button(QDialogButtonBox::Cancel)
        ->setAccessibleDescription("Leaves the settings as they were");
    for (QGroupBox* group : {ui->rxBufferGroup, ui->txBufferGroup}) {
        for (QRadioButton* button : group->findChildren<QRadioButton*>())
            button->setAccessibleDescription(group->accessibleDescription());
    }
}

HSSettingsDlg::~HSSettingsDlg() {
    delete ui;
}

// Every setting that names a control is bound to it; the others are not the dialog's.
void HSSettingsDlg::bindControls() {
    const auto shown = [this](const char* key, auto& value, Control control) {
        bind(key, control.name, value);
    };
    const auto shownNumber = [this](const char* key, int& value, int, int, Control control) {
        bind(key, control.name, value);
    };
    forEachSetting(values, Overloaded{shown, shownNumber, [](const char*, auto&&...) {
                                      }});
}

// A key that names no control of the kind its value needs is left out of the dialog.
void HSSettingsDlg::reportMissing(const char* key, const char* control, const char* kind) {
    HSLOG(LogLevel::Error, kCategory)
        << "Setting \"" << key << "\" names no " << kind << " \"" << control << "\" in the dialog";
}

void HSSettingsDlg::bind(const char* key, const char* control, bool& value) {
    auto* box = findChild<QCheckBox*>(control);
    if (!box) {
        reportMissing(key, control, "check box");
        return;
    }
    connect(box, &QCheckBox::toggled, this, [&value](bool checked) { value = checked; });
    showValues.append([box, &value] { box->setChecked(value); });
}

// A number shows in a spin box, or in a group of radio buttons that each stand for the number in
// their "value" property.
template <typename Number>
void HSSettingsDlg::bind(const char* key, const char* control, Number& value) {
    auto* widget = findChild<QWidget*>(control);
    auto* group = qobject_cast<QGroupBox*>(widget);
    const QList<QRadioButton*> buttons =
        group ? group->findChildren<QRadioButton*>() : QList<QRadioButton*>();
    if (auto* box = qobject_cast<QSpinBox*>(widget))
        bindSpinBox(box, value);
    else if (!buttons.isEmpty())
        bindButtons(buttons, value);
    else
        reportMissing(key, control, "spin box or group of radio buttons");
}

// Shown blocked: a number outside the box's range shows clamped, and is kept until the operator
// changes it.
template <typename Number>
void HSSettingsDlg::bindSpinBox(QSpinBox* box, Number& value) {
    connect(box, QOverload<int>::of(&QSpinBox::valueChanged), this,
            [&value](int number) { value = static_cast<Number>(number); });
    showValues.append([box, &value] {
        const QSignalBlocker quiet(box);
        box->setValue(value);
    });
}

// Shown without blocking: a number no button stands for checks the first button, and so becomes
// its number.
template <typename Number>
void HSSettingsDlg::bindButtons(const QList<QRadioButton*>& buttons, Number& value) {
    for (QRadioButton* button : buttons) {
        const auto number = static_cast<Number>(button->property("value").toInt());
        connect(button, &QRadioButton::toggled, this, [&value, number](bool checked) {
            if (checked)
                value = number;
        });
    }
    showValues.append([buttons, &value] {
        QRadioButton* chosen = buttons.first();
        for (QRadioButton* button : buttons)
            if (button->property("value").toInt() == value)
                chosen = button;
        chosen->setChecked(true);
    });
}

// A list whose items carry data (the themes) holds an item's data and keeps its choice for a value
// it does not list. A list of names holds the name: an editable one takes a name it does not list
// as an item of its own, another then shows no choice.
void HSSettingsDlg::bind(const char* key, const char* control, QString& value) {
    auto* box = findChild<QComboBox*>(control);
    if (!box) {
        reportMissing(key, control, "list");
        return;
    }
    connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [box, &value](int index) {
                const QVariant data = box->itemData(index);
                value = data.isValid() ? data.toString() : box->itemText(index);
            });
    if (box->isEditable())
        connect(box, &QComboBox::editTextChanged, this,
                [&value](const QString& text) { value = text; });
    showValues.append([box, &value] {
        const QSignalBlocker quiet(box);
        const bool carriesData = box->itemData(0).isValid();
        int index = carriesData ? box->findData(value)
                                : box->findText(value, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index < 0 && box->isEditable()) {
            box->addItem(value);
            index = box->count() - 1;
        }
        if (index >= 0 || !carriesData)
            box->setCurrentIndex(index);
    });
}

void HSSettingsDlg::UpdateUi() {
    fillLists();
    HSLOG(LogLevel::Info, kCategory) << "localIP: " << values.link.localIP;
    for (const auto& show : qAsConst(showValues))
        show();
    adjustSize();
}

// The devices as the sound system lists them now, and the machine's IPv4 addresses but loopback.
void HSSettingsDlg::fillLists() {
    const SoundDevices devices = link->soundDevices();
    const CardSettings& card = values.link.card;
    fillDevices(ui->outputDeviceCombo, devices.playback, card.outputDevice);
    fillDevices(ui->speakerDeviceCombo, devices.playback, card.audioDevice);
    fillDevices(ui->inputDeviceCombo, devices.capture, card.inputDevice);
    QStringList addresses;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol &&
            address != QHostAddress(QHostAddress::LocalHost))
            addresses << address.toString();
    }
    refill(ui->localAddressCombo, addresses);
}

// While the option is on, the virtual cable's own devices are the choice and their boxes are
// locked on them; switching it off leaves them selected for the operator to change.
void HSSettingsDlg::usePredefinedDeviceChecked(bool checked) {
    ui->outputDeviceCombo->setEnabled(!checked);
    ui->inputDeviceCombo->setEnabled(!checked);
    if (!checked)
        return;
    values.link.card.outputDevice = kPredefinedOutputDevice;
    values.link.card.inputDevice = kPredefinedInputDevice;
    selectDevice(ui->outputDeviceCombo, values.link.card.outputDevice);
    selectDevice(ui->inputDeviceCombo, values.link.card.inputDevice);
}

void HSSettingsDlg::themeChanged(int idx) {
    applyTheme(ui->themeCombo->itemData(idx).toString());
    fitToContents();
}

// Cancel, Escape or the window's close button: a theme tried in the dialog gives way to the style
// the dialog opened with (which may be a theme given on the command line, not the stored one).
void HSSettingsDlg::reject() {
    if (qApp->styleSheet() != openingStyleSheet) {
        qApp->setStyleSheet(openingStyleSheet);
        fitToContents();
    }
    QDialog::reject();
}

void HSSettingsDlg::fitToContents() {
    adjustSize();
    if (parentWidget())
        parentWidget()->adjustSize();
}
