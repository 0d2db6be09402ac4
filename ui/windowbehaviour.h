// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// What closing the window does.
enum class CloseStep {
    Stay,            // a connection is being made: the window stays
    ToTray,          // connected, with a tray: the window goes to the tray and the audio goes on
    AskToDisconnect, // connected and already in the tray: the window comes back and asks for a
                     // disconnect first
    AskToQuit,       // "Do you want to quit?": yes ends the panel as Quit does
};

// Where there is no tray the window is the panel's only way back, so closing it never leaves a
// panel running out of sight: connected or not, it asks to quit.
CloseStep closeStep(bool connecting, bool visible, bool connected, bool trayAvailable);

// --hidden starts the panel in the tray; where there is no tray the window shows anyway, or the
// operator would have no way to reach the panel.
bool startsHidden(bool hiddenAsked, bool trayAvailable);
