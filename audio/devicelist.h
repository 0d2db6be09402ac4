// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "cardconfig.h"
#include "devicecatalogue.h"

#include <QMutex>
#include <QStringList>

// The sound system's devices as they were listed last: replaced by the card's device thread,
// looked up and named by any thread (under a lock of its own, held only to copy or look up).
class DeviceList {
public:
    // Whether a list has been read yet.
    bool read() const;
    void replace(const DeviceCatalogue& devices);
    // The device's index among those `device` may be (playback or capture), -1 if not listed.
    int indexOf(CardDevice device, const QString& name) const;
    QStringList captureNames() const;
    QStringList playbackNames() const;

private:
    mutable QMutex lock;
    DeviceCatalogue catalogue;
    bool wasRead = false;
};
