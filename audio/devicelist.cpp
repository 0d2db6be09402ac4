// SPDX-License-Identifier: GPL-3.0-or-later

#include "devicelist.h"

bool DeviceList::read() const {
    const QMutexLocker guard(&lock);
    return wasRead;
}

void DeviceList::replace(const DeviceCatalogue& devices) {
    const QMutexLocker guard(&lock);
    catalogue = devices;
    wasRead = true;
}

int DeviceList::indexOf(CardDevice device, const QString& name) const {
    const QMutexLocker guard(&lock);
    return (device == CardDevice::Capture ? catalogue.inputDevices : catalogue.outputDevices)
        .value(name, -1);
}

QStringList DeviceList::captureNames() const {
    const QMutexLocker guard(&lock);
    return catalogue.inputDevices.keys();
}

QStringList DeviceList::playbackNames() const {
    const QMutexLocker guard(&lock);
    return catalogue.outputDevices.keys();
}
