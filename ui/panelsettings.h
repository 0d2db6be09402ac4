// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hsriglink.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>

// Everything the panel keeps between runs. A member's initial value is its default: what a first
// run, an absent key or a damaged value gives.
struct PanelSettings {
    QByteArray geometry;
    QByteArray windowState;
    bool usePredefinedDevice = false;
    QStringList listRigs{QString()};
    int selectedRig = -1;
    LinkSettings link;
    QString theme = QStringLiteral("default");
    bool startWithSession = false;
    bool connectAtStart = false;
};

// A flag the operator switches in the settings dialog: a check box with `text` in the dialog's
// group box named `group`.
struct SettingOption {
    const char* group;
    const char* text;
};

// Every key of the store and the member it holds, in the store's order: visit(key, member), a
// number with its range as visit(key, member, min, max), a flag the dialog offers with its check
// box as visit(key, member, option). This is the one list of keys: a new setting is a line here.
template <typename Settings, typename Visitor>
void forEachSetting(Settings& s, Visitor&& visit) {
    constexpr int kMaxBufferBlocks = 8;
    visit("geometry", s.geometry);
    visit("windowState", s.windowState);
    visit("speakerOn", s.link.card.speakerOn);
    visit("frameOutMult", s.link.card.frameOutMult, 1, kMaxBufferBlocks);
    visit("frameInMult", s.link.card.frameInMult, 1, kMaxBufferBlocks);
    visit("settingsUsePredefinedDevice", s.usePredefinedDevice);
    visit("listRigs", s.listRigs);
    visit("selectedRig", s.selectedRig, -1, static_cast<int>(s.listRigs.size()) - 1);
    visit("outputDevice", s.link.card.outputDevice);
    visit("inputDevice", s.link.card.inputDevice);
    visit("audioDevice", s.link.card.audioDevice);
    visit("inUDPPort", s.link.inUDPPort);
    visit("localIP", s.link.localIP);
    visit("audioOutMode", s.link.card.audioOutMode);
    visit("theme", s.theme);
    visit("acceptAnySender", s.link.acceptAnySender,
          SettingOption{"groupBox_2", "Accept audio from any address"});
    visit("startWithSession", s.startWithSession,
          SettingOption{"groupBoxStart", "Start with the desktop session"});
    visit("connectAtStart", s.connectAtStart, SettingOption{"groupBoxStart", "Connect at start"});
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
