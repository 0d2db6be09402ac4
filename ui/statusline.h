// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "playoutstats.h"

#include <QString>
#include <QtGlobal>

// "Speed: <rx>/<tx> KBit|Latency: <seconds> s". The capture latency is measured as the block's
// capture time minus the stream's time when it is handled, so it is shown as its size, to the
// millisecond.
QString statusLineText(quint32 rxBytes, quint32 txBytes, float inputLatency);

// The status line's tool tip: the received audio's playout figures, one a line.
QString playoutToolTipText(const PlayoutStats& stats);

// "Reconnecting in <whole seconds>s..."
QString reconnectNoticeText(int delayMs);

// "Sound device "<name>" unavailable, retrying"
QString soundDeviceNoticeText(const QString& device);
