// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QMap>
#include <QString>
#include <QVector>

// What the catalogue needs to know of one sound device.
struct DeviceDescription {
    QString name;
    QString hostApiName;
    int maxInputChannels = 0;
    int maxOutputChannels = 0;
    double defaultSampleRate = 0.0;
};

// Device name -> device index, for each direction.
struct DeviceCatalogue {
    QMap<QString, int> inputDevices;
    QMap<QString, int> outputDevices;
};

// Lowest default sample rate a device must offer to be listed.
inline constexpr double kMinimumDeviceRate = 48000.0;

// Lists the devices of the host APIs whose name contains `hostApiPattern` (a regular expression,
// letter case ignored), a device's index being its position in `devices`. A device is a capture
// device when it has no output channels and a playback device when it has no input channels, in
// either case only from kMinimumDeviceRate up; a later device replaces an earlier one of the same
// name.
DeviceCatalogue catalogueDevices(const QVector<DeviceDescription>& devices,
                                 const QString& hostApiPattern);
