#pragma once

#include "hsriglink.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>

// Everything the panel keeps between runs. Read once when the window is built, written once when
// it is destroyed.
struct PanelSettings {
    QByteArray geometry;
    QByteArray windowState;
    bool usePredefinedDevice = false;
    QStringList listRigs;
    int selectedRig = -1;
    LinkSettings link;
    QString theme = QStringLiteral("default");
    bool startWithSession = false;
    bool connectAtStart = false;
};

// A damaged value (wrong type, out of range) gives its default and a Warning naming the key.
PanelSettings loadPanelSettings(QSettings& store);
void savePanelSettings(QSettings& store, const PanelSettings& values);
