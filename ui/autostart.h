// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

// The XDG autostart entry that starts the panel in the tray when the desktop session starts:
// $XDG_CONFIG_HOME/autostart/umx.desktop (~/.config/autostart/umx.desktop by default).
QString autostartEntryPath();

// The entry's text for the panel at `program`.
QString autostartEntryText(const QString& program);

// Writes the entry for the running program, or removes it; false (with a Warning in the log) when
// the file cannot be written or removed.
bool setStartWithSession(bool on);
