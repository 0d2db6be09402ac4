#pragma once

#include "hsremotecontroller.h"

#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QUrl>

class QAction;
class QLabel;
class QMenu;
class QThread;
class QTimer;
class HSAudioWorker;
class HSPortAudio;
class HSSMeterWidget;
class HSSpinner;

namespace Ui {
class MainWindow;
}

// The controller of the whole panel: turns the operator's connect and disconnect into calls on the
// remote controller, starts and stops the audio path on its signals, watches the receive rate and
// mirrors every state change in the window, the status line and the tray.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private slots:
    void hostDisconnected();
    void disConnectFromHost();
    void connectToHost();
    void hostReadyToSent();
    void hostConnectionError();
    void urlRigTextChanged(const QString& text);
    void updateUI();
    void timerSlot();
    void deleteCurrentRig();
    void onWorkerBytesReceived(uint bytes);
    void onWorkerBytesTransmitted(uint bytes);
    void actionAudioBoth(bool checked);
    void actionAudioRX1(bool checked);
    void actionAudioRX2(bool checked);
    void updateActionAudio();
    void actionConnect(bool checked);
    void actionSettings(bool checked);
    void actionQuit();
    void actionShowHide();
    void actionAudioOn(bool on);
    void iconActivated(QSystemTrayIcon::ActivationReason reason);
    void onUdpBindFailed(quint16 port, const QString& reason);

private:
    void loadSettings();
    void saveSettings();
    void updateStatusLine();
    void showSpinner();
    void hideSpinner();
    void restoreKeyboardFocus();
    void showReconnectNotice(int delayMs);
    void resetMeters();
    void resetMetersOnceWorkerStopped();
    void notify(const QString& message, const QIcon* icon, int msecs);
    bool confirmRigAddress();
    bool soundDevicesFound();
    void setAudioOutMode(int mode);
    void createMeters();
    void createWorker();
    void createReceiverActions();
    void createActions();
    void createTrayIcon();

    Ui::MainWindow* ui;
    QString windowTitleText;
    QUrl rigUrl;
    HSRemoteController remoteController;
    quint16 inUDPPort = 16742;
    HSPortAudio* portAudio = nullptr;
    HSAudioWorker* audioWorker = nullptr;
    QStringList listRigs;
    bool usePredefinedDevice = false;
    QTimer* statusTimer = nullptr;
    quint32 rxBytes = 0;
    quint32 txBytes = 0;
    quint32 lowRateTicks = 0;
    quint32 lowRateLimit = 4;
    QString outputDevice;
    QString inputDevice;
    QString audioDevice;
    QString localIP;
    QMenu* audioMenu = nullptr;
    QAction* rx1Action = nullptr;
    QAction* rx2Action = nullptr;
    QAction* rxBothAction = nullptr;
    QAction* connectAction = nullptr;
    QAction* settingsAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* speakerAction = nullptr;
    QAction* showHideAction = nullptr;
    QAction* deleteRigAction = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
    QIcon* iconDisconnected16 = nullptr;
    QIcon* iconConnected16 = nullptr;
    QIcon* iconDisconnected256 = nullptr;
    QIcon* iconConnected256 = nullptr;
    HSSMeterWidget* meterL = nullptr;
    HSSMeterWidget* meterR = nullptr;
    HSSMeterWidget* meterM = nullptr;
    QThread* workerThread = nullptr;
    HSSpinner* spinner = nullptr;
    int audioOutMode = 0;
    QString theme = "default";
    // Shown in the status bar while the local UDP port could not be bound.
    QLabel* udpPortWarning = nullptr;
};
