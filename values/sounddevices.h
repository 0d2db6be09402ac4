// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QStringList>

// The sound devices by name, each list in the sound system's order.
struct SoundDevices {
    QStringList playback;
    QStringList capture;
};
