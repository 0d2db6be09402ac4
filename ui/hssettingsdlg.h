#pragma once

#include <QDialog>
#include <QString>

class HSRigLink;

namespace Ui {
class HSSettingsDlg;
}

// Edits plain values that its caller fills in before UpdateUi() and reads back after an accepted
// exec(): the three sound devices, the buffer multipliers, the local address and UDP port, the
// theme. A theme choice restyles the whole application at once.
class HSSettingsDlg : public QDialog {
    Q_OBJECT

public:
    HSSettingsDlg(QWidget* parent, HSRigLink* link);
    ~HSSettingsDlg() override;

    QString outputDevice;
    QString inputDevice;
    QString audioDevice;
    QString localIP;
    quint16 localUDPPort = 0;
    qint16 frameOutMult = 0;
    qint16 frameInMult = 0;
    QString theme = "default";
    bool usePredefinedDevice = false;
    bool acceptAnySender = false;
    bool startWithSession = false;
    bool connectAtStart = false;
    QString predefinedOutputDevice = "Line Volume (2- UMX VAC)";
    QString predefinedInputDevice = "Line In (UMX VAC)";

public slots:
    void UpdateUi();

private slots:
    void indexOutChanged(int idx);
    void indexAudioChanged(int idx);
    void indexInChanged(int idx);
    void localIPChanged(int idx);
    void localIpTextInChanged(QString str);
    void localUDPPortChanged(int idx);
    void usePredefinedDeviceChecked(bool checked);
    void themeChanged(int idx);

private:
    void connectValueSlots();
    void disconnectValueSlots();
    void connectBufferButtons();
    void applyPredefinedDevices();

    Ui::HSSettingsDlg* ui;
    HSRigLink* link;
};
