#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "hsaudioworker.h"
#include "hsportaudio.h"
#include "hssettingsdlg.h"
#include "hssmeterwidget.h"
#include "hsspinner.h"
#include "hsvumeter.h"
#include "log.h"
#include "portaudiowarmup.h"
#include "rigaddress.h"
#include "settingsvalues.h"
#include "statusline.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>

namespace {

constexpr const char* kCategory = "MainWindow";
constexpr const char* kVersion = "1.5.2";
constexpr int kStatusIntervalMs = 2000;
constexpr float kMeterIdleDb = -50.0F;
constexpr quint16 kDefaultUdpPort = 16742;
constexpr int kMaxFrameMult = 8;
constexpr int kMaxAudioOutMode = 2;
constexpr int kConnectedNoticeMs = 500;
constexpr int kDisconnectedNoticeMs = 100;
constexpr int kLostNoticeMs = 500;
const QString kNoticeTitle = "Connection status changed";

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , windowTitleText("UMX control panel")
    , remoteController(nullptr) {
    ui->setupUi(this);
    ui->cbRig->setView(new QListView(ui->cbRig));
    windowTitleText.append(" ").append(kVersion);
    setWindowTitle(windowTitleText);

    portAudio = new HSPortAudio(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    loadSettings();
    createMeters();

    connect(&remoteController, &HSRemoteController::hostDisconnected, this,
            &MainWindow::hostDisconnected);
    connect(&remoteController, &HSRemoteController::hostConnectionError, this,
            &MainWindow::hostConnectionError);
    connect(&remoteController, &HSRemoteController::hostReadyToSent, this,
            &MainWindow::hostReadyToSent);
    connect(&remoteController, &HSRemoteController::reconnecting, this,
            [this](int delayMs) { showReconnectNotice(delayMs); });
    connect(ui->tbAudio, &QToolButton::toggled, this, &MainWindow::actionAudioOn);
    connect(ui->cbRig, &QComboBox::textActivated, this, &MainWindow::urlRigTextChanged);

    createWorker();

    deleteRigAction = new QAction("Delete RIG's URL..", this);
    connect(deleteRigAction, &QAction::triggered, this, &MainWindow::deleteCurrentRig);
    ui->cbRig->addAction(deleteRigAction);
    ui->cbRig->setContextMenuPolicy(Qt::ActionsContextMenu);

    // The window is not held up by the sound system's device probe, which may still be running
    // on its helper thread: the catalogue is built the moment it is done.
    whenPortAudioWarmedUp(portAudio, [this] {
        portAudio->EnumerateAudioDevices();
        updateStatusLine();
    });
    updateStatusLine();
    ui->pbConnect->setFocus();

    createReceiverActions();
    createActions();
    updateStatusLine();
    showHideAction = new QAction("Hide panel", this);
    connect(showHideAction, &QAction::triggered, this, &MainWindow::actionShowHide);
    createTrayIcon();

    udpPortWarning = new QLabel(this);
    udpPortWarning->setProperty("class", "danger");
    udpPortWarning->hide();
    ui->statusBar->addPermanentWidget(udpPortWarning);

    adjustSize();
    setFixedSize(size());

    statusTimer = new QTimer(this);
    connect(statusTimer, &QTimer::timeout, this, &MainWindow::timerSlot);
    statusTimer->start(kStatusIntervalMs);

    connect(portAudio->vuMeterIn, &HSVUMeter::valueUpdated, meterM, &HSSMeterWidget::setDBm,
            Qt::QueuedConnection);
    connect(portAudio->vuMeterOut, &HSVUMeter::valueUpdatedLeft, meterL, &HSSMeterWidget::setDBm,
            Qt::QueuedConnection);
    connect(portAudio->vuMeterOut, &HSVUMeter::valueUpdatedRight, meterR, &HSSMeterWidget::setDBm,
            Qt::QueuedConnection);
}

MainWindow::~MainWindow() {
    saveSettings();
    workerThread->quit();
    workerThread->wait();
    delete iconDisconnected16;
    delete iconConnected16;
    delete iconDisconnected256;
    delete iconConnected256;
    delete ui;
}

void MainWindow::createMeters() {
    const auto addMeter = [this](const QString& label, int row) {
        auto* meter = new HSSMeterWidget(this, label);
        meter->setDBm(kMeterIdleDb);
        ui->gridLayout_2->addWidget(meter, row, 0, 1, 6, Qt::AlignCenter);
        return meter;
    };
    meterL = addMeter("L", 1);
    meterR = addMeter("R", 2);
    meterM = addMeter("M", 3);
}

void MainWindow::createWorker() {
    workerThread = new QThread(this);
    audioWorker = new HSAudioWorker(portAudio);
    audioWorker->moveToThread(workerThread);
    connect(workerThread, &QThread::finished, audioWorker, &QObject::deleteLater);
    connect(audioWorker, &HSAudioWorker::bytesReceived, this, &MainWindow::onWorkerBytesReceived,
            Qt::QueuedConnection);
    connect(audioWorker, &HSAudioWorker::bytesTransmitted, this,
            &MainWindow::onWorkerBytesTransmitted, Qt::QueuedConnection);
    connect(audioWorker, &HSAudioWorker::udpBindFailed, this, &MainWindow::onUdpBindFailed,
            Qt::QueuedConnection);
    workerThread->start(QThread::InheritPriority);
}

void MainWindow::createReceiverActions() {
    rxBothAction = new QAction("RX1+RX2", this);
    rx1Action = new QAction("RX1", this);
    rx2Action = new QAction("RX2", this);
    for (QAction* action : {rxBothAction, rx1Action, rx2Action}) {
        action->setCheckable(true);
        action->setChecked(true);
    }
    updateActionAudio();

    audioMenu = new QMenu("Mixer..", this);
    audioMenu->addAction(rxBothAction);
    audioMenu->addAction(rx1Action);
    audioMenu->addAction(rx2Action);
    ui->tbAudio->setMenu(audioMenu);
    connect(rxBothAction, &QAction::triggered, this, &MainWindow::actionAudioBoth);
    connect(rx1Action, &QAction::triggered, this, &MainWindow::actionAudioRX1);
    connect(rx2Action, &QAction::triggered, this, &MainWindow::actionAudioRX2);
}

void MainWindow::createActions() {
    connectAction = new QAction("Connect to RIG", this);
    connectAction->setCheckable(true);
    connectAction->setChecked(false);
    settingsAction = new QAction("Settings", this);
    quitAction = new QAction("Quit", this);
    speakerAction = new QAction("Speaker", this);
    speakerAction->setCheckable(true);
    speakerAction->setChecked(portAudio->speakerOn);
    ui->tbAudio->setChecked(portAudio->speakerOn);

    connect(connectAction, &QAction::toggled, this, &MainWindow::actionConnect);
    connect(settingsAction, &QAction::triggered, this, &MainWindow::actionSettings);
    connect(quitAction, &QAction::triggered, this, &MainWindow::actionQuit);
    connect(speakerAction, &QAction::toggled, this, &MainWindow::actionAudioOn);
    connect(ui->pbConnect, &QPushButton::clicked, connectAction, &QAction::trigger);
    connect(ui->tbSettings, &QToolButton::clicked, settingsAction, &QAction::trigger);
}

void MainWindow::createTrayIcon() {
    iconDisconnected16 = new QIcon(":/icons/disconnected-icon-16.png");
    iconConnected16 = new QIcon(":/icons/connected-icon-16.png");
    iconDisconnected256 = new QIcon(":/icons/icons/disconnected-icon-256.png");
    iconConnected256 = new QIcon(":/icons/icons/connected-icon-256.png");

    trayIcon = new QSystemTrayIcon(*iconDisconnected16, this);
    connectAction->setIcon(*iconDisconnected16);
    auto* trayMenu = new QMenu(this);
    trayMenu->addAction(connectAction);
    trayMenu->addAction(speakerAction);
    trayMenu->addMenu(audioMenu);
    trayMenu->addAction(settingsAction);
    trayMenu->addSeparator();
    // Offered in the tray so the operator can bring the window back without a click on the icon.
    trayMenu->addAction(showHideAction);
    trayMenu->addAction(quitAction);
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setVisible(true);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::iconActivated);
}

// ---------------------------------------------------------------------------------------------
// Settings

void MainWindow::loadSettings() {
    QSettings settings("Hoska", "uMX");
    if (const QByteArray geometry = readBytesSetting(settings, "geometry"); !geometry.isEmpty())
        restoreGeometry(geometry);
    if (const QByteArray state = readBytesSetting(settings, "windowState"); !state.isEmpty())
        restoreState(state, 0);
    portAudio->speakerOn = readBoolSetting(settings, "speakerOn", false);
    portAudio->frameOutMult = readIntSetting(settings, "frameOutMult", 1, 1, kMaxFrameMult);
    portAudio->frameInMult = readIntSetting(settings, "frameInMult", 1, 1, kMaxFrameMult);
    usePredefinedDevice = readBoolSetting(settings, "settingsUsePredefinedDevice", false);
    listRigs = readStringListSetting(settings, "listRigs", {QString()});
    ui->cbRig->addItems(listRigs);
    ui->cbRig->setCurrentIndex(
        readIntSetting(settings, "selectedRig", -1, -1, ui->cbRig->count() - 1));
    outputDevice = readStringSetting(settings, "outputDevice", "");
    inputDevice = readStringSetting(settings, "inputDevice", "");
    audioDevice = readStringSetting(settings, "audioDevice", "");
    inUDPPort = readPortSetting(settings, "inUDPPort", kDefaultUdpPort);
    localIP = readStringSetting(settings, "localIP", "127.0.0.1");
    audioOutMode = readIntSetting(settings, "audioOutMode", 0, 0, kMaxAudioOutMode);
    theme = readStringSetting(settings, "theme", "default");
}

void MainWindow::saveSettings() {
    QSettings settings("Hoska", "uMX");
    settings.setValue("geometry", saveGeometry());
    settings.setValue("windowState", saveState(0));
    settings.setValue("frameOutMult", portAudio->frameOutMult);
    settings.setValue("frameInMult", portAudio->frameInMult);
    settings.setValue("speakerOn", portAudio->speakerOn);
    settings.setValue("settingsUsePredefinedDevice", usePredefinedDevice);
    settings.setValue("listRigs", listRigs);
    settings.setValue("selectedRig", ui->cbRig->currentIndex());
    settings.setValue("inUDPPort", inUDPPort);
    HSLOG(LogLevel::Info, kCategory) << "saving outputDevice: " << outputDevice;
    HSLOG(LogLevel::Info, kCategory) << "saving audioDevice: " << audioDevice;
    HSLOG(LogLevel::Info, kCategory) << "saving inputDevice: " << inputDevice;
    settings.setValue("outputDevice", outputDevice);
    settings.setValue("inputDevice", inputDevice);
    settings.setValue("audioDevice", audioDevice);
    settings.setValue("localIP", localIP);
    settings.setValue("audioOutMode", audioOutMode);
    settings.setValue("theme", theme);
}

// ---------------------------------------------------------------------------------------------
// Connection flow

void MainWindow::actionConnect(bool) {
    if (connectAction->isChecked()) {
        HSLOG(LogLevel::Notice, kCategory) << "actionConnect";
        if (!confirmRigAddress()) {
            const QSignalBlocker quiet(connectAction);
            connectAction->setChecked(false);
            return;
        }
        connectToHost();
        connectAction->setEnabled(false);
        settingsAction->setEnabled(false);
        ui->pbConnect->setEnabled(false);
        showSpinner();
        updateUI();
    } else {
        HSLOG(LogLevel::Notice, kCategory) << "actionDisConnect";
        resetMeters();
        disConnectFromHost();
        updateUI();
    }
}

// The audio channel needs an address literal and a port; anything else is refused before the
// control channel is opened, with the reason, instead of a connection that can never carry audio.
bool MainWindow::confirmRigAddress() {
    const QString problem = rigAddressProblem(ui->cbRig->currentText());
    if (problem.isEmpty())
        return true;
    HSLOG(LogLevel::Warning, kCategory) << "Rig address refused: " << problem;
    ui->pbConnect->setChecked(false);
    QMessageBox::warning(this, windowTitleText,
                         "Cannot connect: " + problem +
                             ".\nEnter the rig as IP address and port, for example "
                             "192.168.1.20:4590.");
    return false;
}

void MainWindow::connectToHost() {
    HSLOG(LogLevel::Notice, kCategory) << "start connect, UDP port: " << inUDPPort;
    lowRateTicks = 0;
    rigUrl = QUrl("ws://" + ui->cbRig->currentText(), QUrl::TolerantMode);
    remoteController.localPort = inUDPPort;
    remoteController.localAddress = localIP;
    remoteController.HostStartSent(rigUrl);
}

void MainWindow::hostReadyToSent() {
    HSLOG(LogLevel::Notice, kCategory) << "host ready to sent";
    hideSpinner();
    // The worker writes to the streams from its own thread. After a quick reconnection its queued
    // stop may not have run yet, and a host may describe its stream again while audio runs: the
    // worker lets go of the socket and the streams before they are opened anew here.
    QMetaObject::invokeMethod(audioWorker, "stop", Qt::BlockingQueuedConnection);
    if (soundDevicesFound()) {
        portAudio->sampleRate = 2 * remoteController.sampleRate;
        portAudio->frameSizeOut = 2 * remoteController.frameSize;
        portAudio->frameSizeIn = 2 * remoteController.frameSize;
        if (!portAudio->StartAudio()) {
            QMessageBox::warning(this, windowTitleText, "Unable to configure audio card");
            disConnectFromHost();
            return;
        }
    }
    const QString host = remoteController.hostUrl.host(QUrl::FullyDecoded);
    HSLOG(LogLevel::Info, kCategory) << "host: " << host;
    QMetaObject::invokeMethod(audioWorker, "init", Qt::QueuedConnection, Q_ARG(QString, host),
                              Q_ARG(ushort, remoteController.udpInPort), Q_ARG(ushort, inUDPPort));

    const QString rig = ui->cbRig->currentText();
    if (!listRigs.contains(rig))
        listRigs.append(rig);
    ui->cbRig->clear();
    ui->cbRig->addItems(listRigs);
    const int index = ui->cbRig->findText(rig, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        ui->cbRig->setCurrentIndex(index);

    connectAction->setEnabled(true);
    settingsAction->setEnabled(false);
    ui->pbConnect->setEnabled(true);
    restoreKeyboardFocus();
    notify("Remote RIG " + rig + " connected", iconConnected256, kConnectedNoticeMs);
}

// Resolves the three stored names in the order output, speaker, input, stopping at the first that
// the sound card does not know. Without all three the connection goes on without audio, so the
// operator can see why in the log.
bool MainWindow::soundDevicesFound() {
    const struct {
        int (HSPortAudio::*find)(const QString&);
        const QString& name;
        const char* role;
    } lookups[] = {
        {&HSPortAudio::findOutputDevice, outputDevice, "UMX output"},
        {&HSPortAudio::findSpeakerDevice, audioDevice, "audio (speaker)"},
        {&HSPortAudio::findInputDevice, inputDevice, "UMX input"},
    };
    for (const auto& lookup : lookups) {
        if ((portAudio->*lookup.find)(lookup.name) == -1) {
            HSLOG(LogLevel::Warning, kCategory)
                << "No audio: the " << lookup.role << " device \"" << lookup.name
                << "\" is not among the sound devices";
            return false;
        }
    }
    return true;
}

void MainWindow::disConnectFromHost() {
    hideSpinner();
    remoteController.HostStopSent();
    updateUI();
    ui->pbConnect->setChecked(false);
    ui->pbConnect->setEnabled(true);
    connectAction->setChecked(false);
    connectAction->setEnabled(true);
    settingsAction->setEnabled(true);
    restoreKeyboardFocus();
}

// Disabling the window while it waited took the keyboard focus away; the connect button, the
// operator's next step either way, gets it back.
void MainWindow::restoreKeyboardFocus() {
    if (!QApplication::focusWidget())
        ui->pbConnect->setFocus();
}

void MainWindow::hostDisconnected() {
    HSLOG(LogLevel::Notice, kCategory) << "host disconnected main";
    QMetaObject::invokeMethod(audioWorker, "stop", Qt::QueuedConnection);
    rxBytes = 0;
    txBytes = 0;
    updateStatusLine();
    resetMeters();
    resetMetersOnceWorkerStopped();
}

// Levels measured before the worker stopped are still on their way to the meters; a second reset,
// queued behind the worker's stop and then behind those levels, leaves the meters at rest.
void MainWindow::resetMetersOnceWorkerStopped() {
    QMetaObject::invokeMethod(
        audioWorker,
        [this] {
            QMetaObject::invokeMethod(
                this, [this] { resetMeters(); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void MainWindow::hostConnectionError() {
    hideSpinner();
    disConnectFromHost();
    hostDisconnected();
    QMessageBox::warning(this, windowTitleText, "Unable connect to remote Rig");
}

void MainWindow::showReconnectNotice(int delayMs) {
    HSLOG(LogLevel::Notice, kCategory) << "Reconnecting in " << delayMs << "ms";
    ui->statusBar->showMessage(reconnectNoticeText(delayMs));
    showSpinner();
}

void MainWindow::urlRigTextChanged(const QString&) {}

void MainWindow::timerSlot() {
    if (connectAction->isChecked()) {
        if (isLowReceiveRate(rxBytes))
            ++lowRateTicks;
        if (lowRateTicks > lowRateLimit) {
            disConnectFromHost();
            hostDisconnected();
            lowRateTicks = 0;
            notify("Lost connection to RIG " + ui->cbRig->currentText(), iconDisconnected256,
                   kLostNoticeMs);
            QMessageBox::warning(this, windowTitleText, "Lost connection with Rig");
        }
    } else {
        lowRateTicks = 0;
    }
    updateStatusLine();
    rxBytes = 0;
    txBytes = 0;
}

void MainWindow::onWorkerBytesReceived(uint bytes) {
    rxBytes += bytes;
}

void MainWindow::onWorkerBytesTransmitted(uint bytes) {
    txBytes += bytes;
}

void MainWindow::onUdpBindFailed(quint16 port, const QString& reason) {
    HSLOG(LogLevel::Warning, kCategory)
        << "No audio can be received: UDP port " << port << " unavailable (" << reason << ")";
    udpPortWarning->setText(QString("UDP port %1 unavailable: no audio received").arg(port));
    udpPortWarning->setToolTip(reason);
    udpPortWarning->show();
}

void MainWindow::updateUI() {
    if (connectAction->isChecked()) {
        ui->tbSettings->setEnabled(false);
        ui->cbRig->setEnabled(false);
        ui->pbConnect->setChecked(true);
        ui->pbConnect->setIcon(*iconConnected16);
        ui->pbConnect->repaint();
        trayIcon->setIcon(*iconConnected16);
        connectAction->setIcon(*iconConnected16);
    } else {
        ui->tbSettings->setEnabled(true);
        ui->cbRig->setEnabled(true);
        ui->pbConnect->setChecked(false);
        ui->pbConnect->setIcon(*iconDisconnected16);
        ui->pbConnect->repaint();
        trayIcon->setIcon(*iconDisconnected16);
        notify("Remote RIG " + ui->cbRig->currentText() + " disconnected", iconDisconnected256,
               kDisconnectedNoticeMs);
        connectAction->setIcon(*iconDisconnected16);
        udpPortWarning->hide();
    }
}

void MainWindow::updateStatusLine() {
    ui->statusBar->showMessage(statusLineText(rxBytes, txBytes, portAudio->inputLatency));
}

void MainWindow::showSpinner() {
    if (spinner)
        return;
    spinner = new HSSpinner(this);
    spinner->start();
}

void MainWindow::hideSpinner() {
    if (!spinner)
        return;
    spinner->stop();
    delete spinner;
    spinner = nullptr;
}

void MainWindow::resetMeters() {
    meterM->setDBm(kMeterIdleDb);
    meterL->setDBm(kMeterIdleDb);
    meterR->setDBm(kMeterIdleDb);
    meterM->resetPeak();
    meterL->resetPeak();
    meterR->resetPeak();
}

void MainWindow::notify(const QString& message, const QIcon* icon, int msecs) {
    trayIcon->showMessage(kNoticeTitle, message, *icon, msecs);
}

// ---------------------------------------------------------------------------------------------
// Operator actions

void MainWindow::setAudioOutMode(int mode) {
    audioOutMode = mode;
    portAudio->audioOutMode = audioOutMode;
}

void MainWindow::actionAudioBoth(bool checked) {
    if (!checked)
        return;
    setAudioOutMode(0);
    rx1Action->setChecked(false);
    rx2Action->setChecked(false);
}

void MainWindow::actionAudioRX1(bool checked) {
    if (!checked)
        return;
    setAudioOutMode(1);
    rxBothAction->setChecked(false);
    rx2Action->setChecked(false);
}

void MainWindow::actionAudioRX2(bool checked) {
    if (!checked)
        return;
    setAudioOutMode(2);
    rxBothAction->setChecked(false);
    rx1Action->setChecked(false);
}

void MainWindow::updateActionAudio() {
    switch (audioOutMode) {
    case 0:
        rx1Action->setChecked(false);
        rx2Action->setChecked(false);
        break;
    case 1:
        rxBothAction->setChecked(false);
        rx2Action->setChecked(false);
        break;
    case 2:
        rxBothAction->setChecked(false);
        rx1Action->setChecked(false);
        break;
    default:
        break;
    }
    portAudio->audioOutMode = audioOutMode;
}

void MainWindow::actionAudioOn(bool on) {
    HSLOG(LogLevel::Info, kCategory) << "Action audio";
    portAudio->speakerOn = on;
    ui->tbAudio->setChecked(on);
    speakerAction->setChecked(on);
}

void MainWindow::deleteCurrentRig() {
    const auto answer = QMessageBox::information(
        this, windowTitleText, "Do you want to delete\n" + ui->cbRig->currentText() + " ?",
        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
    if (answer != QMessageBox::Ok)
        return;
    ui->cbRig->removeItem(ui->cbRig->currentIndex());
    listRigs.clear();
    for (int i = 0; i < ui->cbRig->count(); ++i)
        listRigs << ui->cbRig->itemText(i);
}

void MainWindow::actionSettings(bool) {
    HSSettingsDlg dialog(this, portAudio);
    dialog.usePredefinedDevice = usePredefinedDevice;
    dialog.outputDevice = outputDevice;
    dialog.inputDevice = inputDevice;
    dialog.audioDevice = audioDevice;
    dialog.localIP = localIP;
    dialog.localUDPPort = inUDPPort;
    dialog.frameOutMult = static_cast<qint16>(portAudio->frameOutMult);
    dialog.frameInMult = static_cast<qint16>(portAudio->frameInMult);
    dialog.theme = theme;
    dialog.UpdateUi();
    if (dialog.exec() != QDialog::Accepted)
        return;
    usePredefinedDevice = dialog.usePredefinedDevice;
    outputDevice = dialog.outputDevice;
    HSLOG(LogLevel::Info, kCategory) << "output device: " << outputDevice;
    inputDevice = dialog.inputDevice;
    HSLOG(LogLevel::Info, kCategory) << "input device: " << inputDevice;
    audioDevice = dialog.audioDevice;
    HSLOG(LogLevel::Info, kCategory) << "audio device: " << audioDevice;
    localIP = dialog.localIP;
    inUDPPort = dialog.localUDPPort;
    portAudio->frameOutMult = dialog.frameOutMult;
    portAudio->frameInMult = dialog.frameInMult;
    theme = dialog.theme;
    updateStatusLine();
}

void MainWindow::actionQuit() {
    close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (spinner && spinner->isVisible()) {
        event->ignore();
        return;
    }
    if (isVisible() && connectAction->isChecked()) {
        hide();
        event->ignore();
        return;
    }
    if (connectAction->isChecked()) {
        show();
        QMessageBox::warning(this, windowTitleText, "Please, disconnect from the remote RIG");
        event->ignore();
        return;
    }
    const auto answer =
        QMessageBox::information(this, windowTitleText, "Do you want to quit?",
                                 QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
    if (answer == QMessageBox::Cancel)
        event->ignore();
    else
        event->accept();
}

void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger)
        actionShowHide();
}

void MainWindow::actionShowHide() {
    if (isVisible()) {
        hide();
        showHideAction->setText("Show panel");
    } else {
        show();
        showHideAction->setText("Hide panel");
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    meterM->show();
    meterL->show();
    meterR->show();
    adjustSize();
}

void MainWindow::hideEvent(QHideEvent* event) {
    meterM->hide();
    meterL->hide();
    meterR->hide();
    QMainWindow::hideEvent(event);
}
