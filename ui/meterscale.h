// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QVector>

// The geometry of a level meter's scale for a widget of W x H pixels: where each decibel lies
// horizontally, the bar rows (logical units, y up) and the dial rows (image rows, y down).
struct MeterTick {
    int db = 0;
    float x = 0.0f;
    bool thick = false; // the two ends of the dial are drawn as thick as a bar
};

struct MeterDialText {
    int tick = 0; // index into MeterScale::ticks
    QString text;
};

struct MeterScale {
    static constexpr float defaultMinDb = -50.0f;
    static constexpr float defaultMaxDb = 0.0f;
    static constexpr int defaultTickFirstDb = -50;
    static constexpr int defaultTickLastDb = 0;
    static constexpr float defaultMarginFraction = 0.04f;
    static constexpr float defaultBarWidth = 6.5f;

    float minDb = defaultMinDb;
    float maxDb = defaultMaxDb;
    int tickFirstDb = defaultTickFirstDb;
    int tickLastDb = defaultTickLastDb;
    float marginFraction = defaultMarginFraction;
    float barWidth = defaultBarWidth;

    float dbRange = 0.0f;
    float scaleX0 = 0.0f;
    float scaleWidth = 0.0f;
    int barY1 = 0;
    int barY2 = 0;
    int baselineY = 0;
    int tickY2 = 0;
    int labelY = 0;
    float scaleXMin = 0.0f;
    float scaleXMax = 0.0f;
    QVector<MeterTick> ticks;

    // Recomputes every derived member for a widget of w x h pixels.
    void layout(int w, int h);

    float xOf(float db) const { return (db - minDb) / dbRange * scaleWidth + scaleX0; }

    // The label on the first tick, then the numbers on the ticks that carry one.
    QVector<MeterDialText> dialTexts(const QString& label) const;
};

// What a bar shows for a given reading and peak.
enum class MeterBarLight { Dark, Lit, Peak };

// Walks the bars from the bottom; the first bar within 2 dB below the peak that is above the
// reading is the peak marker, and only that one.
class MeterBarWalk {
public:
    MeterBarWalk(float value, float peak)
        : value(value)
        , peak(peak) {}
    MeterBarLight next(int db);

private:
    float value;
    float peak;
    bool peakShown = false;
};

struct MeterRgb {
    int r, g, b;
};

inline constexpr MeterRgb meterDarkColor{30, 30, 30};
inline constexpr MeterRgb meterLowColor{44, 173, 246};
inline constexpr MeterRgb meterMidColor{88, 223, 15};
inline constexpr MeterRgb meterHighColor{249, 55, 28};
inline constexpr int meterMidZoneDb = -12; // first green bar
inline constexpr int meterHighZoneDb = -3; // first red bar

MeterRgb meterBarColor(int db, MeterBarLight light);

// The pixels of the bar at `db` when the scale's drawing space (`logical` units, y up) is stretched
// onto `area`: those whose centres lie inside the bar's rectangle, as a rasterizer fills a shape
// without antialiasing, so a bar is whole pixels of one colour.
QRect meterBarPixels(const MeterScale& scale, int db, QSize logical, const QRect& area);
