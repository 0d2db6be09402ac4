#pragma once

#include <QObject>

// Signal source of one level meter. The sound-card layer updates the values (smoothed levels in
// dB) and emits the signals; each meter is written by one thread only.
class HSVUMeter : public QObject {
    Q_OBJECT

public:
    explicit HSVUMeter(QObject* parent = nullptr);

    float value = kStartLevel;
    float valueLeft = kStartLevel;
    float valueRight = kStartLevel;
    float riseFactor = 0.7f;
    float fallFactor = 0.5f;

signals:
    void valueUpdated(float value);
    void valueUpdatedLeft(float value);
    void valueUpdatedRight(float value);

private:
    static constexpr float kStartLevel = -30.0f;
};
