// SPDX-License-Identifier: GPL-3.0-or-later
// The window built: its controls, meters, actions and tray icon, joined to the link, and each
// control named and described for a screen reader.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "hslinkwindow.h"
#include "hssmeterwidget.h"
#include "statusline.h"
#include "umxversion.h"

#include <QActionGroup>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

MainWindow::MainWindow(HSRigLink* link, const PanelSettings& settings, QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , windowTitleText(QStringLiteral("UMX control panel ") + kUmxVersion)
    , link(link)
    , settings(settings)
    , iconDisconnected16(":/icons/disconnected-icon-16.png")
    , iconConnected16(":/icons/connected-icon-16.png")
    , iconDisconnected256(":/icons/icons/disconnected-icon-256.png")
    , iconConnected256(":/icons/icons/connected-icon-256.png") {
    ui->setupUi(this);
    ui->cbRig->setView(new QListView(ui->cbRig));
    setWindowTitle(windowTitleText);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    applySettings();
    createMeters();
    connectLink();
    linkWindow = new HSLinkWindow(link, windowTitleText, this);

    deleteRigAction = new QAction("Delete RIG's URL..", this);
    connect(deleteRigAction, &QAction::triggered, this, &MainWindow::deleteCurrentRig);
    ui->cbRig->addAction(deleteRigAction);
    ui->cbRig->setContextMenuPolicy(Qt::ActionsContextMenu);

    createReceiverActions();
    createActions();
    showHideAction = new QAction("Show panel", this);
    connect(showHideAction, &QAction::triggered, this, &MainWindow::actionShowHide);
    createTrayIcon();
    describeControls();
    showStatus(0, 0, inputLatency);
    ui->pbConnect->setFocus();

    udpPortWarning = new QLabel(this);
    udpPortWarning->setObjectName("udpPortWarning");
    udpPortWarning->setProperty("class", "danger");
    udpPortWarning->hide();
    ui->statusBar->addPermanentWidget(udpPortWarning);

    adjustSize();
    setFixedSize(size());

    meterClock = new QTimer(this);
    meterClock->setObjectName("meterClock");
    meterClock->setTimerType(Qt::PreciseTimer);
    connect(meterClock, &QTimer::timeout, this, &MainWindow::readLevels);
}

MainWindow::~MainWindow() {
    settings.window.geometry = saveGeometry();
    settings.window.windowState = saveState(0);
    settings.window.selectedRig = ui->cbRig->currentIndex();
    savePanelSettings(settings);
    delete ui;
}

void MainWindow::applySettings() {
    if (!settings.window.geometry.isEmpty())
        restoreGeometry(settings.window.geometry);
    if (!settings.window.windowState.isEmpty())
        restoreState(settings.window.windowState, 0);
    link->setSettings(settings.link);
    ui->cbRig->addItems(settings.window.listRigs);
    ui->cbRig->setCurrentIndex(settings.window.selectedRig);
}

void MainWindow::connectLink() {
    connect(link, &HSRigLink::stateChanged, this, &MainWindow::onLinkStateChanged);
    connect(link, &HSRigLink::streaming, this, &MainWindow::hostReadyToSent);
    connect(link, &HSRigLink::connectionRefused, this, &MainWindow::hostConnectionError);
    connect(link, &HSRigLink::linkLost, this, &MainWindow::onLinkLost);
    connect(link, &HSRigLink::audioStopped, this, &MainWindow::resetMeters);
    connect(link, &HSRigLink::statusMeasured, this, &MainWindow::showStatus);
    connect(link, &HSRigLink::udpBindFailed, this, &MainWindow::onUdpBindFailed);
    connect(link, &HSRigLink::soundDeviceUnavailable, this, [this](const QString& device) {
        unavailableDevice = device;
        showStatus(0, 0, 0.0f);
        updateUI();
    });
    connect(link, &HSRigLink::reconnecting, this, [this](int delayMs) {
        reconnectNotice = reconnectNoticeText(delayMs);
        ui->statusBar->showMessage(reconnectNotice);
    });
    connect(link, &HSRigLink::audioCardFailed, this, [this] {
        QMessageBox::warning(this, windowTitleText, "Unable to configure audio card");
    });
    connect(link, &HSRigLink::addressRefused, this, [this](const QString& problem) {
        QMessageBox::warning(this, windowTitleText,
                             "Cannot connect: " + problem +
                                 ".\nEnter the rig as IP address and port, for example "
                                 "192.168.1.20:4590.");
    });
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

void MainWindow::createReceiverActions() {
    receiverGroup = new QActionGroup(this);
    receiverGroup->setExclusive(true);
    rxBothAction = receiverGroup->addAction("RX1+RX2");
    rx1Action = receiverGroup->addAction("RX1");
    rx2Action = receiverGroup->addAction("RX2");
    for (QAction* action : receiverGroup->actions())
        action->setCheckable(true);
    QAction* const byMode[] = {rxBothAction, rx1Action, rx2Action};
    byMode[static_cast<int>(settings.link.card.audioOutMode)]->setChecked(true);
    // Keys for the receivers, since the speaker button's menu opens only to the mouse.
    const int keys[] = {Qt::Key_1, Qt::Key_2, Qt::Key_3};
    for (int mode = 0; mode < 3; ++mode)
        byMode[mode]->setShortcut(QKeySequence(Qt::CTRL | keys[mode]));
    addActions(receiverGroup->actions());

    audioMenu = new QMenu("Mixer..", this);
    audioMenu->addActions(receiverGroup->actions());
    ui->tbAudio->setMenu(audioMenu);
    connect(rxBothAction, &QAction::triggered, this, &MainWindow::actionAudioBoth);
    connect(rx1Action, &QAction::triggered, this, &MainWindow::actionAudioRX1);
    connect(rx2Action, &QAction::triggered, this, &MainWindow::actionAudioRX2);
}

void MainWindow::createActions() {
    connectAction = new QAction("Connect to RIG", this);
    connectAction->setCheckable(true);
    settingsAction = new QAction("Settings", this);
    quitAction = new QAction("Quit", this);
    speakerAction = new QAction("Speaker", this);
    speakerAction->setCheckable(true);
    speakerAction->setChecked(settings.link.card.speakerOn);
    ui->tbAudio->setChecked(settings.link.card.speakerOn);
    linkAction = new QAction("Link...", this);
    connectAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    speakerAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    settingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    linkAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    // In the window too, so that their keys work while it has the focus.
    addActions({connectAction, speakerAction, settingsAction, linkAction});

    connect(ui->tbAudio, &QToolButton::toggled, this, &MainWindow::actionAudioOn);
    connect(connectAction, &QAction::toggled, this, &MainWindow::actionConnect);
    connect(settingsAction, &QAction::triggered, this, &MainWindow::actionSettings);
    connect(quitAction, &QAction::triggered, this, &MainWindow::actionQuit);
    connect(speakerAction, &QAction::toggled, this, &MainWindow::actionAudioOn);
    connect(linkAction, &QAction::triggered, this, &MainWindow::showLinkWindow);
    connect(ui->pbConnect, &QPushButton::clicked, connectAction, &QAction::trigger);
    connect(ui->tbSettings, &QToolButton::clicked, settingsAction, &QAction::trigger);
}

void MainWindow::createTrayIcon() {
    trayIcon = new QSystemTrayIcon(iconDisconnected16, this);
    connectAction->setIcon(iconDisconnected16);
    auto* trayMenu = new QMenu(this);
    trayMenu->addAction(connectAction);
    trayMenu->addAction(speakerAction);
    trayMenu->addMenu(audioMenu);
    trayMenu->addAction(settingsAction);
    trayMenu->addAction(linkAction);
    trayMenu->addSeparator();
    // Offered in the tray so the operator can bring the window back without a click on the icon.
    trayMenu->addAction(showHideAction);
    trayMenu->addAction(quitAction);
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setVisible(true);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::iconActivated);
}

// Names and descriptions for a screen reader, the keys in the tool tips, and Tab from the rig's
// address through the buttons to the meters.
void MainWindow::describeControls() {
    const auto withKey = [](const QString& text, const QAction* action) {
        return text + " (" + action->shortcut().toString(QKeySequence::NativeText) + ")";
    };
    ui->label->setBuddy(ui->cbRig);
    ui->cbRig->setAccessibleName("Rig address");
    ui->cbRig->setAccessibleDescription("The rig's IP address and port, for example "
                                        "192.168.1.20:4590; the list keeps every rig that "
                                        "connected once");
    ui->tbAudio->setAccessibleName("Speaker");
    ui->tbAudio->setAccessibleDescription(
        withKey("Switches the speaker on and off", speakerAction) +
        "; its menu chooses the receiver: " + withKey("RX1+RX2", rxBothAction) + ", " +
        withKey("RX1", rx1Action) + ", " + withKey("RX2", rx2Action));
    ui->tbAudio->setToolTip(withKey("Speaker", speakerAction) + "; the arrow chooses the receiver");
    ui->tbSettings->setAccessibleName("Settings");
    ui->tbSettings->setAccessibleDescription(
        withKey("Sound devices, buffers, network and theme", settingsAction) +
        "; only while not connected");
    ui->tbSettings->setToolTip(withKey("Settings", settingsAction));
    ui->pbConnect->setAccessibleName("Connect to RIG");
    ui->pbConnect->setAccessibleDescription(
        withKey("Connects to the rig in the address field, or disconnects", connectAction));
    ui->pbConnect->setToolTip(withKey("Connect to RIG", connectAction));
    const struct {
        HSSMeterWidget* meter;
        const char* name;
        const char* description;
    } meters[] = {
        {meterL, "Received left level", "The left channel received from the rig"},
        {meterR, "Received right level", "The right channel received from the rig"},
        {meterM, "Captured level", "The audio captured and sent to the rig"},
    };
    for (const auto& m : meters) {
        m.meter->setAccessibleName(m.name);
        m.meter->setAccessibleDescription(QString(m.description) + ", -50 to 0 dBFS");
    }
    // Unnamed, so that a screen reader reads the line itself.
    ui->statusBar->setAccessibleDescription(
        withKey("Speed and latency; a click opens the link window", linkAction));
    ui->statusBar->installEventFilter(this);
    setTabOrder(ui->cbRig, ui->tbAudio);
    setTabOrder(ui->tbAudio, ui->tbSettings);
    setTabOrder(ui->tbSettings, ui->pbConnect);
    setTabOrder(ui->pbConnect, meterL);
    setTabOrder(meterL, meterR);
    setTabOrder(meterR, meterM);
}
