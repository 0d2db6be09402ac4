// SPDX-License-Identifier: GPL-3.0-or-later
// The connection as the operator sees it: the connect action, the link's state in the buttons,
// spinner and tray, the notices, the status line and the meters.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "hssmeterwidget.h"
#include "hsspinner.h"
#include "log.h"
#include "statusline.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QTimer>

namespace {

constexpr const char* kCategory = "MainWindow";
constexpr int kConnectedNoticeMs = 500;
constexpr int kDisconnectedNoticeMs = 100;
constexpr int kLostNoticeMs = 500;
const QString kNoticeTitle = QStringLiteral("Connection status changed");

} // namespace

void MainWindow::actionConnect(bool) {
    if (connectAction->isChecked()) {
        HSLOG(LogLevel::Notice, kCategory) << "actionConnect";
        if (!link->connectToRig(ui->cbRig->currentText())) {
            const QSignalBlocker quiet(connectAction);
            connectAction->setChecked(false);
            ui->pbConnect->setChecked(false);
        }
    } else {
        HSLOG(LogLevel::Notice, kCategory) << "actionDisConnect";
        resetMeters();
        disConnectFromHost();
    }
}

void MainWindow::disConnectFromHost() {
    link->disconnectFromRig();
}

void MainWindow::onLinkStateChanged(HSRigLink::State state) {
    const bool active = link->active();
    if (state != HSRigLink::State::DeviceLost)
        unavailableDevice.clear();
    {
        const QSignalBlocker quiet(connectAction);
        connectAction->setChecked(active);
    }
    const bool waiting = state == HSRigLink::State::Connecting;
    connectAction->setEnabled(!waiting);
    ui->pbConnect->setEnabled(!waiting);
    settingsAction->setEnabled(!active);
    if (waiting || state == HSRigLink::State::Reconnecting)
        showSpinner();
    else
        hideSpinner();
    // A reconnection may take as long as the rig is away; the operator can stop it meanwhile.
    if (state == HSRigLink::State::Reconnecting)
        setEnabled(true);
    updateUI();
    restoreKeyboardFocus();
    updateMeterClock();
}

void MainWindow::hostReadyToSent() {
    const QString rig = ui->cbRig->currentText();
    if (!settings.window.listRigs.contains(rig))
        settings.window.listRigs.append(rig);
    ui->cbRig->clear();
    ui->cbRig->addItems(settings.window.listRigs);
    const int index = ui->cbRig->findText(rig, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        ui->cbRig->setCurrentIndex(index);
    notify("Remote RIG " + rig + " connected", iconConnected256, kConnectedNoticeMs);
}

void MainWindow::hostConnectionError() {
    QMessageBox::warning(this, windowTitleText, "Unable connect to remote Rig");
}

void MainWindow::onLinkLost() {
    notify("Lost connection to RIG " + ui->cbRig->currentText(), iconDisconnected256,
           kLostNoticeMs);
    QMessageBox::warning(this, windowTitleText, "Lost connection with Rig");
}

// Disabling the window while it waited took the keyboard focus away; the connect button, the
// operator's next step either way, gets it back.
void MainWindow::restoreKeyboardFocus() {
    if (!QApplication::focusWidget())
        ui->pbConnect->setFocus();
}

void MainWindow::onUdpBindFailed(quint16 port, const QString& reason) {
    HSLOG(LogLevel::Warning, kCategory)
        << "No audio can be received: UDP port " << port << " unavailable (" << reason << ")";
    udpPortWarning->setText(QString("UDP port %1 unavailable: no audio received").arg(port));
    udpPortWarning->setToolTip(reason);
    udpPortWarning->show();
}

void MainWindow::updateUI() {
    const bool connected = connectAction->isChecked();
    const bool reconnecting = link->state() == HSRigLink::State::Reconnecting;
    ui->tbSettings->setEnabled(!connected);
    ui->cbRig->setEnabled(!connected);
    ui->pbConnect->setChecked(connected);
    const QIcon& icon = connected && !reconnecting ? iconConnected16 : iconDisconnected16;
    ui->pbConnect->setIcon(icon);
    trayIcon->setIcon(icon);
    if (reconnecting)
        trayIcon->setToolTip(QStringLiteral("Reconnecting"));
    else if (link->state() == HSRigLink::State::DeviceLost && !unavailableDevice.isEmpty())
        trayIcon->setToolTip(soundDeviceNoticeText(unavailableDevice));
    else
        trayIcon->setToolTip(windowTitleText);
    connectAction->setIcon(icon);
    if (!connected) {
        notify("Remote RIG " + ui->cbRig->currentText() + " disconnected", iconDisconnected256,
               kDisconnectedNoticeMs);
        udpPortWarning->hide();
    }
}

// Hidden to the tray, nobody reads the status line: it is composed when the window shows, from
// the latest tick's figures, and the hidden panel's ticks cost next to nothing.
void MainWindow::showStatus(quint32 rxBytes, quint32 txBytes, float latency) {
    inputLatency = latency;
    statusRxBytes = rxBytes;
    statusTxBytes = txBytes;
    statusStale = !isVisible();
    if (!statusStale)
        composeStatus();
}

void MainWindow::composeStatus() {
    if (link->state() == HSRigLink::State::Reconnecting)
        ui->statusBar->showMessage(reconnectNotice);
    else if (link->state() == HSRigLink::State::DeviceLost)
        ui->statusBar->showMessage(soundDeviceNoticeText(unavailableDevice));
    else
        ui->statusBar->showMessage(statusLineText(statusRxBytes, statusTxBytes, inputLatency));
    ui->statusBar->setToolTip(playoutToolTipText(link->playoutStats()) +
                              "\n\nClick for the link window (" +
                              linkAction->shortcut().toString(QKeySequence::NativeText) + ")");
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

// The meters take the latest levels once a frame, and only while they can be seen and audio flows:
// the audio threads never wake the window.
void MainWindow::readLevels() {
    const AudioLevels levels = link->levels();
    meterM->setDBm(levels.capture);
    meterL->setDBm(levels.left);
    meterR->setDBm(levels.right);
}

void MainWindow::updateMeterClock() {
    if (isVisible() && link->state() == HSRigLink::State::Streaming)
        meterClock->start(HSSMeterWidget::frameIntervalMs);
    else
        meterClock->stop();
}

void MainWindow::resetMeters() {
    for (HSSMeterWidget* meter : {meterM, meterL, meterR})
        meter->setDBm(kMeterIdleDb);
    for (HSSMeterWidget* meter : {meterM, meterL, meterR})
        meter->resetPeak();
}

void MainWindow::notify(const QString& message, const QIcon& icon, int msecs) {
    trayIcon->showMessage(kNoticeTitle, message, icon, msecs);
}
