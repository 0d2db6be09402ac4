// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "meterlevel.h"
#include "meterscale.h"

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QVector>
#include <QWidget>

class QTimer;

// A horizontal bar-graph level meter: 51 bars, one per dB from -50 to 0, coloured by zone, with a
// peak marker held for one second. The dial and the dark bars are painted once per size into a
// cached picture; a frame paints the lit bars over it, and only the bars that changed are
// repainted. The drawing keeps the shape 7:1 (height over width 1/7), letterboxed in black.
class HSSMeterWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int fixedWidth = 500;
    static constexpr int fixedHeight = 80;
    static constexpr float aspectRatio = 1.0f / 7.0f;
    // Readings may come faster than this; they update the state at once and the picture on the
    // next 25-per-second frame boundary.
    static constexpr int frameIntervalMs = 40;

    HSSMeterWidget(QWidget* parent, const QString& label);

    // One level reading in dB; readings outside the scale are clamped onto it.
    Q_INVOKABLE void setDBm(float value);
    Q_INVOKABLE void resetPeak();
    // The reading shown, in dBFS: what a screen reader reads as the meter's value.
    float level() const { return meterLevel.value(); }

public slots:
    // Puts the meter back to the bottom of the scale.
    void updateValues();

signals:
    void frameDrawn();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The bars lit for the current reading and peak, one bit per bar from the bottom: the only
    // thing a reading can change in the picture.
    quint64 litBars() const;
    void repaintIfChanged();
    // Takes the lit bars into the picture and repaints the region of those that changed.
    void showFrame();
    void layoutFor(QSize devicePixels);
    QImage dialImage(int w, int h) const;
    QRect toWidget(const QRect& devicePixels) const;

    QString label;
    QFont labelFont;
    QColor scaleColor;
    MeterScale scale;
    MeterLevel meterLevel;
    QElapsedTimer peakTimer; // the hold's clock
    QTimer* frameTimer;
    quint64 shownBars = 0; // the lit bars of the picture
    QPixmap background;    // black, the dial and the dark bars, in device pixels
    QVector<QRect> barPixels;
};
