// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssettingsdlg.h"
#include "ui_hssettingsdlg.h"

#include "hsriglink.h"
#include "log.h"
#include "themestylesheet.h"

#include <QFormLayout>
#include <QListView>
#include <QNetworkInterface>
#include <QSignalBlocker>

namespace {

// The virtual cable's own devices, which "Use predefined UMX devices" selects.
const QString kPredefinedOutputDevice = QStringLiteral("Line Volume (2- UMX VAC)");
const QString kPredefinedInputDevice = QStringLiteral("Line In (UMX VAC)");

void selectText(QComboBox* box, const QString& text) {
    const QSignalBlocker quiet(box);
    box->setCurrentIndex(box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

// Checks the button of `depth`, or "Auto" for a depth no button stands for.
void checkBufferButton(const QList<std::pair<int, QRadioButton*>>& buttons, int depth) {
    QRadioButton* chosen = buttons.first().second;
    for (const auto& [blocks, button] : buttons)
        if (blocks == depth)
            chosen = button;
    chosen->setChecked(true);
}

// What each flag of the settings' table does, for a screen reader, by its key.
const std::pair<const char*, const char*> kOptionDescriptions[] = {
    {"acceptAnySender", "Plays audio from any sender, not only from the rig's host: anyone who "
                        "reaches the UDP port can then play into the cable"},
    {"startWithSession", "Starts the panel in the tray when you log in"},
    {"connectAtStart", "Connects to the selected rig as the panel starts"},
};

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
    , values(settings) {
    ui->setupUi(this);
    ui->cbLocalP->setView(new QListView(ui->cbLocalP));
    addOptions();
    describeControls();

    connect(ui->pbRefreshSnd, &QPushButton::clicked, this, &HSSettingsDlg::UpdateUi);
    connect(ui->cbUsePredefined, &QCheckBox::toggled, this,
            &HSSettingsDlg::usePredefinedDeviceChecked);
    connectBufferButtons();
    for (const QString& theme : QStringList{kDefaultTheme} + themeIds())
        ui->cbTheme->addItem(themeTitle(theme), theme);
    connect(ui->cbTheme, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &HSSettingsDlg::themeChanged);
    UpdateUi();
}

// One check box for each flag of the settings' table that names its place in the dialog.
void HSSettingsDlg::addOptions() {
    const auto flag = [this](const char* key, bool& value, SettingOption option) {
        addOption(key, value, option);
    };
    forEachSetting(values, Overloaded{flag, [](const char*, auto&&...) {
                                      }});
}

void HSSettingsDlg::addOption(const char* key, bool& value, const SettingOption& option) {
    auto* box = new QCheckBox(option.text);
    box->setObjectName(key);
    for (const auto& [optionKey, description] : kOptionDescriptions) {
        if (qstrcmp(optionKey, key) == 0)
            box->setAccessibleDescription(description);
    }
    auto* group = findChild<QGroupBox*>(option.group);
    if (auto* form = qobject_cast<QFormLayout*>(group->layout()))
        form->addRow(box);
    else
        group->layout()->addWidget(box);
    connect(box, &QCheckBox::toggled, this, [&value](bool checked) { value = checked; });
    options.append({box, &value});
}

// The labels name their fields for a screen reader, and every control says what it sets.
void HSSettingsDlg::describeControls() {
    const std::pair<QLabel*, QWidget*> labelled[] = {
        {ui->label_2, ui->cbOutputSnd},    {ui->label_6, ui->cbInputSnd},
        {ui->label_7, ui->cbOutputAudio},  {ui->label_4, ui->cbLocalP},
        {ui->label_5, ui->sbLocalUDPPort}, {ui->label_8, ui->cbTheme},
    };
    for (const auto& [label, field] : labelled)
        label->setBuddy(field);
    ui->buttonBox->setAccessibleName("OK or Cancel");
    const std::pair<QWidget*, const char*> described[] = {
        {ui->pbRefreshSnd, "Lists the sound devices afresh"},
        {ui->cbUsePredefined, "Plays into and captures from the virtual cable's own devices"},
        {ui->cbOutputSnd, "The playback device the rig's audio goes to, for other software"},
        {ui->cbInputSnd, "The capture device whose audio goes to the rig"},
        {ui->cbOutputAudio, "The speaker device you listen on"},
        {ui->cbLocalP, "The local address the rig sends its audio to"},
        {ui->sbLocalUDPPort, "The local UDP port the rig sends its audio to"},
        {ui->cbTheme, "The panel's colours; a choice shows at once"},
        {ui->buttonBox, "Keeps the settings or leaves them as they were"},
        {ui->buttonBox->button(QDialogButtonBox::Ok), "Keeps these settings"},
        {ui->buttonBox->button(QDialogButtonBox::Cancel), "Leaves the settings as they were"},
    };
    for (const auto& [control, description] : described)
        control->setAccessibleDescription(description);
    for (const auto& [blocks, button] : rxButtons())
        button->setAccessibleDescription(
            "RX buffer: how much received audio is held ahead of the sound card");
    for (const auto& [blocks, button] : txButtons())
        button->setAccessibleDescription(
            "TX buffer: how much captured audio is gathered before it is sent");
}

HSSettingsDlg::~HSSettingsDlg() {
    delete ui;
}

// The buffer buttons and the depths in blocks they stand for, "Auto" (one block) first.
QList<std::pair<int, QRadioButton*>> HSSettingsDlg::rxButtons() const {
    return {{1, ui->chOutFr1}, {2, ui->chOutFr2}, {4, ui->chOutFr3}, {8, ui->chOutFr4}};
}

QList<std::pair<int, QRadioButton*>> HSSettingsDlg::txButtons() const {
    return {{1, ui->chInFr1}, {2, ui->chInFr2}, {3, ui->chInFr3}, {4, ui->chInFr4}};
}

void HSSettingsDlg::connectBufferButtons() {
    const auto bind = [this](const QList<std::pair<int, QRadioButton*>>& buttons, int* depth) {
        for (const auto& [blocks, button] : buttons)
            connect(button, &QRadioButton::toggled, this, [depth, blocks = blocks](bool checked) {
                if (checked)
                    *depth = blocks;
            });
    };
    bind(rxButtons(), &values.link.card.frameOutMult);
    bind(txButtons(), &values.link.card.frameInMult);
}

void HSSettingsDlg::connectValueSlots() {
    const auto indexChanged = QOverload<int>::of(&QComboBox::currentIndexChanged);
    connect(ui->cbOutputSnd, indexChanged, this, &HSSettingsDlg::indexOutChanged);
    connect(ui->cbOutputAudio, indexChanged, this, &HSSettingsDlg::indexAudioChanged);
    connect(ui->cbInputSnd, indexChanged, this, &HSSettingsDlg::indexInChanged);
    connect(ui->cbLocalP, indexChanged, this, &HSSettingsDlg::localIPChanged);
    connect(ui->cbLocalP, &QComboBox::editTextChanged, this, &HSSettingsDlg::localIpTextInChanged);
    connect(ui->sbLocalUDPPort, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &HSSettingsDlg::localUDPPortChanged);
}

void HSSettingsDlg::disconnectValueSlots() {
    const auto indexChanged = QOverload<int>::of(&QComboBox::currentIndexChanged);
    disconnect(ui->cbOutputSnd, indexChanged, this, &HSSettingsDlg::indexOutChanged);
    disconnect(ui->cbOutputAudio, indexChanged, this, &HSSettingsDlg::indexAudioChanged);
    disconnect(ui->cbInputSnd, indexChanged, this, &HSSettingsDlg::indexInChanged);
    disconnect(ui->cbLocalP, indexChanged, this, &HSSettingsDlg::localIPChanged);
    disconnect(ui->cbLocalP, &QComboBox::editTextChanged, this,
               &HSSettingsDlg::localIpTextInChanged);
    disconnect(ui->sbLocalUDPPort, QOverload<int>::of(&QSpinBox::valueChanged), this,
               &HSSettingsDlg::localUDPPortChanged);
}

void HSSettingsDlg::UpdateUi() {
    disconnectValueSlots();
    ui->cbOutputSnd->clear();
    ui->cbOutputAudio->clear();
    ui->cbInputSnd->clear();
    ui->cbLocalP->clear();

    const SoundDevices devices = link->soundDevices();
    ui->cbInputSnd->addItems(devices.capture);
    ui->cbOutputSnd->addItems(devices.playback);
    ui->cbOutputAudio->addItems(devices.playback);
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol &&
            address != QHostAddress(QHostAddress::LocalHost))
            ui->cbLocalP->addItem(address.toString());
    }

    selectText(ui->cbOutputSnd, values.link.card.outputDevice);
    selectText(ui->cbOutputAudio, values.link.card.audioDevice);
    selectText(ui->cbInputSnd, values.link.card.inputDevice);

    const QString& localIP = values.link.localIP;
    HSLOG(LogLevel::Info, "Settings") << "localIP: " << localIP;
    {
        const QSignalBlocker quiet(ui->cbLocalP);
        int index = ui->cbLocalP->findText(localIP, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index < 0) {
            ui->cbLocalP->addItem(localIP);
            index = ui->cbLocalP->findText(localIP, Qt::MatchExactly | Qt::MatchCaseSensitive);
        }
        ui->cbLocalP->setCurrentIndex(index);
    }
    ui->cbUsePredefined->setChecked(values.usePredefinedDevice);
    for (const auto& [box, flag] : qAsConst(options))
        box->setChecked(*flag);
    {
        const QSignalBlocker quiet(ui->sbLocalUDPPort);
        ui->sbLocalUDPPort->setValue(values.link.inUDPPort);
    }
    // Not blocked: a depth no button stands for becomes the checked button's, "Auto".
    checkBufferButton(rxButtons(), values.link.card.frameOutMult);
    checkBufferButton(txButtons(), values.link.card.frameInMult);
    {
        const QSignalBlocker quiet(ui->cbTheme);
        const int index = ui->cbTheme->findData(values.theme);
        if (index >= 0)
            ui->cbTheme->setCurrentIndex(index);
    }
    connectValueSlots();
    adjustSize();
}

void HSSettingsDlg::indexOutChanged(int idx) {
    values.link.card.outputDevice = ui->cbOutputSnd->itemText(idx);
}

void HSSettingsDlg::indexAudioChanged(int idx) {
    values.link.card.audioDevice = ui->cbOutputAudio->itemText(idx);
}

void HSSettingsDlg::indexInChanged(int idx) {
    values.link.card.inputDevice = ui->cbInputSnd->itemText(idx);
}

void HSSettingsDlg::localIPChanged(int idx) {
    values.link.localIP = ui->cbLocalP->itemText(idx);
}

void HSSettingsDlg::localIpTextInChanged(QString str) {
    values.link.localIP = str;
}

void HSSettingsDlg::localUDPPortChanged(int idx) {
    values.link.inUDPPort = static_cast<quint16>(idx);
}

void HSSettingsDlg::usePredefinedDeviceChecked(bool checked) {
    values.usePredefinedDevice = checked;
    applyPredefinedDevices();
}

// While the option is on, the virtual cable's own devices are the choice and their boxes are
// locked on them; switching it off leaves them selected for the operator to change.
void HSSettingsDlg::applyPredefinedDevices() {
    ui->cbOutputSnd->setEnabled(!values.usePredefinedDevice);
    ui->cbInputSnd->setEnabled(!values.usePredefinedDevice);
    if (!values.usePredefinedDevice)
        return;
    values.link.card.outputDevice = kPredefinedOutputDevice;
    values.link.card.inputDevice = kPredefinedInputDevice;
    selectText(ui->cbOutputSnd, values.link.card.outputDevice);
    selectText(ui->cbInputSnd, values.link.card.inputDevice);
}

void HSSettingsDlg::themeChanged(int idx) {
    values.theme = ui->cbTheme->itemData(idx).toString();
    applyTheme(values.theme);
    adjustSize();
    if (parentWidget())
        parentWidget()->adjustSize();
}
