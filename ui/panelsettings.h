// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hsriglink.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>

// The window's own values: its place on the screen, the rigs, the theme and how it starts.
struct WindowSettings {
    QByteArray geometry;
    QByteArray windowState;
    bool usePredefinedDevice = false;
    QStringList listRigs{QString()};
    int selectedRig = -1;
    QString theme = QStringLiteral("default");
    bool startWithSession = false;
    bool connectAtStart = false;
};

// Everything the panel keeps between runs, one part for each layer that acts on it: the window's,
// and the link's (which holds the sound card's). A member's initial value is its default: what a
// first run, an absent key or a damaged value gives.
struct PanelSettings {
    WindowSettings window;
    LinkSettings link;
};

// The control that shows a setting in the settings dialog: its object name in the dialog's form.
struct Control {
    const char* name;
};

// Every key of the store and the member it holds, in the store's order: visit(key, member), a
// number with its range as visit(key, member, min, max); a setting the operator edits in the
// settings dialog names its control last. This is the one list of keys: a new setting is a line
// here.
template <typename Settings, typename Visitor>
void forEachSetting(Settings& s, Visitor&& visit) {
    visit("geometry", s.window.geometry);
    visit("windowState", s.window.windowState);
    visit("speakerOn", s.link.card.speakerOn);
    visit("frameOutMult", s.link.card.frameOutMult, 1, kMaxBufferBlocks, Control{"rxBufferGroup"});
    visit("frameInMult", s.link.card.frameInMult, 1, kMaxBufferBlocks, Control{"txBufferGroup"});
    visit("settingsUsePredefinedDevice", s.window.usePredefinedDevice,
          Control{"predefinedDevicesCheck"});
    visit("listRigs", s.window.listRigs);
    visit("selectedRig", s.window.selectedRig, -1, static_cast<int>(s.window.listRigs.size()) - 1);
    visit("outputDevice", s.link.card.outputDevice, Control{"outputDeviceCombo"});
    visit("inputDevice", s.link.card.inputDevice, Control{"inputDeviceCombo"});
    visit("audioDevice", s.link.card.audioDevice, Control{"speakerDeviceCombo"});
    visit("inUDPPort", s.link.inUDPPort, Control{"udpPortSpin"});
    visit("localIP", s.link.localIP, Control{"localAddressCombo"});
    visit("audioOutMode", s.link.card.audioOutMode);
    visit("theme", s.window.theme, Control{"themeCombo"});
    visit("acceptAnySender", s.link.acceptAnySender, Control{"acceptAnySenderCheck"});
    visit("startWithSession", s.window.startWithSession, Control{"startWithSessionCheck"});
    visit("connectAtStart", s.window.connectAtStart, Control{"connectAtStartCheck"});
    visit("concealLostAudio", s.link.card.concealLostAudio, Control{"concealLostAudioCheck"});
}

// Names the application ("uMX" of "Hoska", and its version) once at start-up. The name is also the
// scope of the settings store: every QSettings() of the panel opens it.
void setApplicationIdentity();

// Reads every key; a damaged value (wrong type, out of range) gives its default and a Warning that
// names the key. Without a store, the application's own.
PanelSettings loadPanelSettings(QSettings& store);
PanelSettings loadPanelSettings();
void savePanelSettings(QSettings& store, const PanelSettings& values);
void savePanelSettings(const PanelSettings& values);
