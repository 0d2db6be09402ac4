// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>

// The host sends stereo frames (4-byte units) at its own rate; the sound card plays at twice that
// rate, so every unit is written twice in a row. A trailing partial unit is completed with zero
// bytes: n input bytes give 8 * ceil(n / 4) output bytes.
QByteArray doubleFrames(const QByteArray& datagram);
