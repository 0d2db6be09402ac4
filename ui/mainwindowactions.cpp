// SPDX-License-Identifier: GPL-3.0-or-later
// The operator's actions on the window that do not open or close a connection: receiver choice,
// speaker, rig deletion, settings, quitting, the tray and visibility.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "autostart.h"
#include "hslinkwindow.h"
#include "hssettingsdlg.h"
#include "hssmeterwidget.h"
#include "hsspinner.h"
#include "log.h"
#include "windowbehaviour.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>

namespace {
constexpr const char* kCategory = "MainWindow";
// How long the end of a session waits for the host to acknowledge the close.
constexpr int kEndSessionWaitMs = 1500;
} // namespace

void MainWindow::setAudioOutMode(ReceiverMode mode) {
    settings.link.card.audioOutMode = mode;
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
    settings.link.card.speakerOn = on;
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
    settings.window.listRigs.clear();
    for (int i = 0; i < ui->cbRig->count(); ++i)
        settings.window.listRigs << ui->cbRig->itemText(i);
}

void MainWindow::actionSettings(bool) {
    HSSettingsDlg dialog(this, link, settings);
    if (dialog.exec() == QDialog::Accepted)
        takeDialogSettings(dialog.settings());
}

void MainWindow::takeDialogSettings(const PanelSettings& chosen) {
    HSLOG(LogLevel::Info, kCategory) << "output device: " << chosen.link.card.outputDevice;
    HSLOG(LogLevel::Info, kCategory) << "input device: " << chosen.link.card.inputDevice;
    HSLOG(LogLevel::Info, kCategory) << "audio device: " << chosen.link.card.audioDevice;
    const bool startWithSession = settings.window.startWithSession;
    settings = chosen;
    // The autostart entry is a file of its own: the flag follows it only when it could be written.
    if (chosen.window.startWithSession != startWithSession &&
        !setStartWithSession(chosen.window.startWithSession))
        settings.window.startWithSession = startWithSession;
    link->setSettings(settings.link);
    showStatus(0, 0, inputLatency);
}

void MainWindow::connectIfAskedAtStart() {
    if (settings.window.connectAtStart && !link->active())
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
    const bool connected = connectAction->isChecked();
    event->ignore();
    switch (closeStep(spinner && spinner->isVisible(), isVisible(), connected,
                      QSystemTrayIcon::isSystemTrayAvailable())) {
    case CloseStep::Stay:
        return;
    case CloseStep::ToTray:
        hide();
        return;
    case CloseStep::AskToDisconnect:
        show();
        QMessageBox::warning(this, windowTitleText, "Please, disconnect from the remote RIG");
        return;
    case CloseStep::AskToQuit:
        if (QMessageBox::information(this, windowTitleText, "Do you want to quit?",
                                     QMessageBox::Ok | QMessageBox::Cancel,
                                     QMessageBox::Ok) == QMessageBox::Cancel)
            return;
        if (connected)
            endSession();
        else
            event->accept();
        return;
    }
}

void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger)
        actionShowHide();
}

void MainWindow::actionShowHide() {
    setVisible(!isVisible());
}

void MainWindow::showLinkWindow() {
    linkWindow->show();
    linkWindow->raise();
    linkWindow->activateWindow();
}

// A click on the status line opens the link window.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->statusBar && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        showLinkWindow();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    meterM->show();
    meterL->show();
    meterR->show();
    adjustSize();
    showHideAction->setText("Hide panel");
    updateMeterClock();
    if (statusStale) {
        statusStale = false;
        composeStatus();
    }
}

void MainWindow::hideEvent(QHideEvent* event) {
    meterM->hide();
    meterL->hide();
    meterR->hide();
    showHideAction->setText("Show panel");
    QMainWindow::hideEvent(event);
    updateMeterClock();
}
