// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hslinerenderer.h"
#include "hsoglwidget.h"
#include "meterlevel.h"
#include "meterscale.h"

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QString>
#include <memory>

class HSTexturedQuadRenderer;
class QOpenGLTexture;
class QTimer;

// A horizontal bar-graph level meter: 51 bars, one per dB from -50 to 0, coloured by zone, with a
// peak marker held for one second, over a dial painted once per resize into a texture.
class HSSMeterWidget : public HSOGLWidget {
    Q_OBJECT

public:
    static constexpr int fixedWidth = 500;
    static constexpr int fixedHeight = 80;
    // Readings may come faster than this; they update the state at once and the picture on the
    // next 25-per-second frame boundary.
    static constexpr int frameIntervalMs = 40;

    HSSMeterWidget(QWidget* parent, const QString& label);
    ~HSSMeterWidget() override;

    // One level reading in dB; readings outside the scale are clamped onto it.
    Q_INVOKABLE void setDBm(float value);
    Q_INVOKABLE void resetPeak();

public slots:
    // Puts the meter back to the bottom of the scale.
    void updateValues();

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    void buildDialTexture(int w, int h);
    // The bars lit for the current reading and peak, one bit per bar from the bottom: the only
    // thing a reading can change in the picture.
    quint64 litBars() const;
    // Schedules a repaint only when a reading changed the picture.
    void repaintIfChanged();
    void requestRepaint();

    QString label;
    QFont labelFont;
    QColor scaleColor;
    MeterScale scale;
    MeterLevel meterLevel;
    QElapsedTimer peakTimer; // the hold's clock
    QTimer* frameTimer;
    quint64 paintedBars = 0;
    bool painted = false;
    QVector<HSLine> bars; // kept between frames for its allocation
    std::unique_ptr<HSLineRenderer> lineRenderer;
    std::unique_ptr<HSTexturedQuadRenderer> textureRenderer;
    std::unique_ptr<QOpenGLTexture> dialTexture;
};
