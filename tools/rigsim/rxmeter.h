// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>

// Received mono audio over one reporting interval: how much arrived and how loud it was.
class RxMeter {
public:
    void add(const QByteArray& datagram);

    // Level of what was added since the last reset, in dBFS; -inf for silence or nothing.
    double rmsDbfs() const;
    double peakDbfs() const;
    qint64 samples() const { return sampleCount; }
    qint64 datagrams() const { return datagramCount; }
    // Size of the biggest datagram, in bytes: the sender's datagram limit shows here.
    int largestDatagram() const { return largest; }
    void reset();

private:
    qint64 sampleCount = 0;
    qint64 datagramCount = 0;
    double sumSquares = 0.0;
    int peak = 0;
    int largest = 0;
};
