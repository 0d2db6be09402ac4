// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>
#include <QRandomGenerator>

class QTimer;

// Moving level readings for three meters, produced in a thread of their own the way the sound
// card's level signals are: each reading reaches its meter through a queued connection.
class LevelSource : public QObject {
    Q_OBJECT

public:
    explicit LevelSource(int readingsPerSecond);

public slots:
    void start();
    void stop();

signals:
    void left(float db);
    void right(float db);
    void captured(float db);

private slots:
    void tick();

private:
    float levelAt(double seconds, double phase);

    QTimer* timer;
    int intervalMs;
    qint64 ticks = 0;
    double secondsPerTick;
    QRandomGenerator random{20240};
};
