// SPDX-License-Identifier: GPL-3.0-or-later

#include "devicecatalogue.h"

#include <QRegExp>

DeviceCatalogue catalogueDevices(const QVector<DeviceDescription>& devices,
                                 const QString& hostApiPattern) {
    const QRegExp hostApi(hostApiPattern, Qt::CaseInsensitive);
    DeviceCatalogue catalogue;
    for (int i = 0; i < devices.size(); ++i) {
        const DeviceDescription& device = devices[i];
        if (hostApi.indexIn(device.hostApiName) < 0)
            continue;
        const bool fastEnough = device.defaultSampleRate >= kMinimumDeviceRate;
        if (device.maxOutputChannels == 0 && fastEnough)
            catalogue.inputDevices.insert(device.name, i);
        if (device.maxInputChannels == 0 && fastEnough)
            catalogue.outputDevices.insert(device.name, i);
    }
    return catalogue;
}
