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

struct ThemeEntry {
    const char* text;
    const char* id;
};
constexpr ThemeEntry kThemes[] = {
    {"System Default", "default"}, {"Dark Teal", "dark_teal"},   {"Dark Amber", "dark_amber"},
    {"Dark Cyan", "dark_cyan"},    {"Light Blue", "light_blue"},
};

void selectText(QComboBox* box, const QString& text) {
    const QSignalBlocker quiet(box);
    box->setCurrentIndex(box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

} // namespace

HSSettingsDlg::HSSettingsDlg(QWidget* parent, HSRigLink* link)
    : QDialog(parent)
    , ui(new Ui::HSSettingsDlg)
    , link(link) {
    ui->setupUi(this);
    ui->cbLocalP->setView(new QListView(ui->cbLocalP));
    adjustSize();

    connect(ui->pbRefreshSnd, &QPushButton::clicked, this, &HSSettingsDlg::UpdateUi);
    connect(ui->cbUsePredefined, &QCheckBox::toggled, this,
            &HSSettingsDlg::usePredefinedDeviceChecked);
    connect(ui->cbAcceptAnySender, &QCheckBox::toggled, this,
            [this](bool checked) { acceptAnySender = checked; });
    connect(ui->cbStartWithSession, &QCheckBox::toggled, this,
            [this](bool checked) { startWithSession = checked; });
    connect(ui->cbConnectAtStart, &QCheckBox::toggled, this,
            [this](bool checked) { connectAtStart = checked; });
    connectBufferButtons();
    for (const ThemeEntry& entry : kThemes)
        ui->cbTheme->addItem(entry.text, QString(entry.id));
    connect(ui->cbTheme, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &HSSettingsDlg::themeChanged);
}

HSSettingsDlg::~HSSettingsDlg() {
    delete ui;
}

void HSSettingsDlg::connectBufferButtons() {
    const auto bind = [this](QRadioButton* button, qint16* member, qint16 value) {
        connect(button, &QRadioButton::toggled, this, [member, value](bool checked) {
            if (checked)
                *member = value;
        });
    };
    bind(ui->chOutFr1, &frameOutMult, 1);
    bind(ui->chOutFr2, &frameOutMult, 2);
    bind(ui->chOutFr3, &frameOutMult, 4);
    bind(ui->chOutFr4, &frameOutMult, 8);
    bind(ui->chInFr1, &frameInMult, 1);
    bind(ui->chInFr2, &frameInMult, 2);
    bind(ui->chInFr3, &frameInMult, 3);
    bind(ui->chInFr4, &frameInMult, 4);
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

    selectText(ui->cbOutputSnd, outputDevice);
    selectText(ui->cbOutputAudio, audioDevice);
    selectText(ui->cbInputSnd, inputDevice);

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
    ui->cbUsePredefined->setChecked(usePredefinedDevice);
    ui->cbAcceptAnySender->setChecked(acceptAnySender);
    ui->cbStartWithSession->setChecked(startWithSession);
    ui->cbConnectAtStart->setChecked(connectAtStart);
    {
        const QSignalBlocker quiet(ui->sbLocalUDPPort);
        ui->sbLocalUDPPort->setValue(localUDPPort);
    }

    switch (frameOutMult) {
    case 4:
        ui->chOutFr3->setChecked(true);
        break;
    case 8:
        ui->chOutFr4->setChecked(true);
        break;
    case 2:
        ui->chOutFr2->setChecked(true);
        break;
    default:
        ui->chOutFr1->setChecked(true);
        break;
    }
    switch (frameInMult) {
    case 3:
        ui->chInFr3->setChecked(true);
        break;
    case 4:
        ui->chInFr4->setChecked(true);
        break;
    case 2:
        ui->chInFr2->setChecked(true);
        break;
    default:
        ui->chInFr1->setChecked(true);
        break;
    }
    {
        const QSignalBlocker quiet(ui->cbTheme);
        const int index = ui->cbTheme->findData(theme);
        if (index >= 0)
            ui->cbTheme->setCurrentIndex(index);
    }
    connectValueSlots();
    adjustSize();
}

void HSSettingsDlg::indexOutChanged(int idx) {
    outputDevice = ui->cbOutputSnd->itemText(idx);
}

void HSSettingsDlg::indexAudioChanged(int idx) {
    audioDevice = ui->cbOutputAudio->itemText(idx);
}

void HSSettingsDlg::indexInChanged(int idx) {
    inputDevice = ui->cbInputSnd->itemText(idx);
}

void HSSettingsDlg::localIPChanged(int idx) {
    localIP = ui->cbLocalP->itemText(idx);
}

void HSSettingsDlg::localIpTextInChanged(QString str) {
    localIP = str;
}

void HSSettingsDlg::localUDPPortChanged(int idx) {
    localUDPPort = static_cast<quint16>(idx);
}

void HSSettingsDlg::usePredefinedDeviceChecked(bool checked) {
    usePredefinedDevice = checked;
    applyPredefinedDevices();
}

// While the option is on, the virtual cable's own devices are the choice and their boxes are
// locked on them; switching it off leaves them selected for the operator to change.
void HSSettingsDlg::applyPredefinedDevices() {
    ui->cbOutputSnd->setEnabled(!usePredefinedDevice);
    ui->cbInputSnd->setEnabled(!usePredefinedDevice);
    if (!usePredefinedDevice)
        return;
    outputDevice = predefinedOutputDevice;
    inputDevice = predefinedInputDevice;
    selectText(ui->cbOutputSnd, outputDevice);
    selectText(ui->cbInputSnd, inputDevice);
}

void HSSettingsDlg::themeChanged(int idx) {
    theme = ui->cbTheme->itemData(idx).toString();
    if (theme == QLatin1String("default")) {
        qApp->setStyleSheet(QString());
    } else if (const auto sheet = themeStyleSheet(theme)) {
        qApp->setStyleSheet(*sheet);
    }
    adjustSize();
    if (parentWidget())
        parentWidget()->adjustSize();
}
