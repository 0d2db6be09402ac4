// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hsriglink.h"
#include "panelsettings.h"

#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <QSystemTrayIcon>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QTimer;
class HSLinkWindow;
class HSSMeterWidget;
class HSSpinner;

namespace Ui {
class MainWindow;
}

// The panel's window: the operator's actions, the connection as the operator sees it (buttons,
// spinner, status line, tray) and the three level meters. The connection itself, and everything
// below it, is HSRigLink's: the window reaches the sound card only through it. The link must
// outlive the window. It keeps the settings it is given and saves them when it is destroyed.
// Built in mainwindow.cpp; the connection as the operator sees it in mainwindowconnection.cpp, the
// operator's other actions in mainwindowactions.cpp.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(HSRigLink* link, const PanelSettings& settings, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Connects to the selected rig when the operator asked for it at start.
    void connectIfAskedAtStart();

public slots:
    // A logout, a termination signal or the end of the desktop session: the way Quit goes, without
    // asking, and the event loop ends once the host has heard the disconnect.
    void endSession();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private slots:
    void disConnectFromHost();
    void hostReadyToSent();
    void hostConnectionError();
    void updateUI();
    void deleteCurrentRig();
    void actionAudioBoth(bool checked);
    void actionAudioRX1(bool checked);
    void actionAudioRX2(bool checked);
    void actionConnect(bool checked);
    void actionSettings(bool checked);
    void actionQuit();
    void actionShowHide();
    void showLinkWindow();
    void actionAudioOn(bool on);
    void iconActivated(QSystemTrayIcon::ActivationReason reason);
    void onLinkStateChanged(HSRigLink::State state);
    void onLinkLost();
    void onUdpBindFailed(quint16 port, const QString& reason);

private:
    // The meters at rest: the bottom of their scale.
    static constexpr float kMeterIdleDb = -50.0F;

    void applySettings();
    void takeDialogSettings(const PanelSettings& chosen);
    void connectLink();
    void showStatus(quint32 rxBytes, quint32 txBytes, float latency);
    void composeStatus();
    void showSpinner();
    void hideSpinner();
    void restoreKeyboardFocus();
    void resetMeters();
    void readLevels();
    void updateMeterClock();
    void notify(const QString& message, const QIcon& icon, int msecs);
    void setAudioOutMode(ReceiverMode mode);
    void createMeters();
    void createReceiverActions();
    void createActions();
    void createTrayIcon();
    void describeControls();

    Ui::MainWindow* ui;
    QString windowTitleText;
    // "Reconnecting in Ns...", shown in place of the speed for as long as the reconnection lasts.
    QString reconnectNotice;
    // The sound device being reopened, named in place of the speed until it works again.
    QString unavailableDevice;
    // The figures of the latest status tick, and whether the status line has yet to show them.
    float inputLatency = 0.0f;
    quint32 statusRxBytes = 0;
    quint32 statusTxBytes = 0;
    bool statusStale = false;
    HSRigLink* link;
    PanelSettings settings;
    QActionGroup* receiverGroup = nullptr;
    QAction* rx1Action = nullptr;
    QAction* rx2Action = nullptr;
    QAction* rxBothAction = nullptr;
    QMenu* audioMenu = nullptr;
    QAction* connectAction = nullptr;
    QAction* settingsAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* speakerAction = nullptr;
    QAction* showHideAction = nullptr;
    QAction* linkAction = nullptr;
    QAction* deleteRigAction = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
    QIcon iconDisconnected16;
    QIcon iconConnected16;
    QIcon iconDisconnected256;
    QIcon iconConnected256;
    HSSMeterWidget* meterL = nullptr;
    HSSMeterWidget* meterR = nullptr;
    HSSMeterWidget* meterM = nullptr;
    HSSpinner* spinner = nullptr;
    // Records the link from the start, shown or not.
    HSLinkWindow* linkWindow = nullptr;
    QTimer* meterClock = nullptr;
    // Shown in the status bar while the local UDP port could not be bound.
    QLabel* udpPortWarning = nullptr;
};
