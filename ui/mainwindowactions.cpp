// The operator's actions on the window that do not open or close a connection: receiver choice,
// speaker, rig deletion, settings, quitting, the tray and visibility.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "autostart.h"
#include "hssettingsdlg.h"
#include "hssmeterwidget.h"
#include "hsspinner.h"
#include "log.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QTimer>

namespace {
constexpr const char* kCategory = "MainWindow";
// How long the end of a session waits for the host to acknowledge the close.
constexpr int kEndSessionWaitMs = 1500;
} // namespace

void MainWindow::setAudioOutMode(ReceiverMode mode) {
    settings.link.audioOutMode = mode;
    link->setSettings(settings.link);
}

void MainWindow::actionAudioBoth(bool checked) {
    if (checked)
        setAudioOutMode(ReceiverMode::Both);
}

void MainWindow::actionAudioRX1(bool checked) {
    if (checked)
        setAudioOutMode(ReceiverMode::RX1);
}

void MainWindow::actionAudioRX2(bool checked) {
    if (checked)
        setAudioOutMode(ReceiverMode::RX2);
}

void MainWindow::actionAudioOn(bool on) {
    HSLOG(LogLevel::Info, kCategory) << "Action audio";
    settings.link.speakerOn = on;
    link->setSettings(settings.link);
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
    settings.listRigs.clear();
    for (int i = 0; i < ui->cbRig->count(); ++i)
        settings.listRigs << ui->cbRig->itemText(i);
}

void MainWindow::actionSettings(bool) {
    LinkSettings& chosen = settings.link;
    HSSettingsDlg dialog(this, link);
    dialog.usePredefinedDevice = settings.usePredefinedDevice;
    dialog.outputDevice = chosen.outputDevice;
    dialog.inputDevice = chosen.inputDevice;
    dialog.audioDevice = chosen.audioDevice;
    dialog.localIP = chosen.localIP;
    dialog.localUDPPort = chosen.inUDPPort;
    dialog.frameOutMult = static_cast<qint16>(chosen.frameOutMult);
    dialog.frameInMult = static_cast<qint16>(chosen.frameInMult);
    dialog.theme = settings.theme;
    dialog.acceptAnySender = chosen.acceptAnySender;
    dialog.startWithSession = settings.startWithSession;
    dialog.connectAtStart = settings.connectAtStart;
    dialog.UpdateUi();
    if (dialog.exec() != QDialog::Accepted)
        return;
    settings.usePredefinedDevice = dialog.usePredefinedDevice;
    chosen.outputDevice = dialog.outputDevice;
    HSLOG(LogLevel::Info, kCategory) << "output device: " << chosen.outputDevice;
    chosen.inputDevice = dialog.inputDevice;
    HSLOG(LogLevel::Info, kCategory) << "input device: " << chosen.inputDevice;
    chosen.audioDevice = dialog.audioDevice;
    HSLOG(LogLevel::Info, kCategory) << "audio device: " << chosen.audioDevice;
    chosen.localIP = dialog.localIP;
    chosen.inUDPPort = dialog.localUDPPort;
    chosen.frameOutMult = dialog.frameOutMult;
    chosen.frameInMult = dialog.frameInMult;
    settings.theme = dialog.theme;
    chosen.acceptAnySender = dialog.acceptAnySender;
    settings.connectAtStart = dialog.connectAtStart;
    if (dialog.startWithSession != settings.startWithSession &&
        setStartWithSession(dialog.startWithSession))
        settings.startWithSession = dialog.startWithSession;
    link->setSettings(chosen);
    showStatus(0, 0, inputLatency);
}

void MainWindow::connectIfAskedAtStart() {
    if (settings.connectAtStart && !link->active())
        connectAction->setChecked(true);
}

void MainWindow::actionQuit() {
    close();
}

void MainWindow::endSession() {
    HSLOG(LogLevel::Notice, kCategory) << "Ending the session";
    if (link->active())
        link->disconnectFromRig();
    if (!link->controlChannelOpen()) {
        QApplication::quit();
        return;
    }
    connect(link, &HSRigLink::closed, this, &QApplication::quit);
    QTimer::singleShot(kEndSessionWaitMs, this, &QApplication::quit);
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
    setVisible(!isVisible());
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    meterM->show();
    meterL->show();
    meterR->show();
    adjustSize();
    showHideAction->setText("Hide panel");
    updateMeterClock();
}

void MainWindow::hideEvent(QHideEvent* event) {
    meterM->hide();
    meterL->hide();
    meterR->hide();
    showHideAction->setText("Show panel");
    QMainWindow::hideEvent(event);
    updateMeterClock();
}
