// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "linkfigures.h"

#include <QColor>
#include <QVector>
#include <QWidget>

class LinkHistory;
class QPainter;

// The link's last 30 minutes against time, painted from a history it does not own: each level of
// the table of figures as a line in its strip (the latency and the arrival jitter, the clock skew,
// the speed both ways), and the events as marks in their lanes along the time axis. The right edge
// is the latest sample. Its colours come from the theme's palette: text and grid from the window's
// text, each series a hue made light on a dark window and dark on a light one.
class HSLinkPlot : public QWidget {
    Q_OBJECT

public:
    HSLinkPlot(const LinkHistory* history, QWidget* parent = nullptr);

    QSize sizeHint() const override { return {720, 440}; }
    QSize minimumSizeHint() const override { return {480, 320}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintStrip(QPainter& painter, const QRect& area, const QString& title,
                    const QVector<int>& figures) const;
    void paintEvents(QPainter& painter, const QRect& area) const;
    void paintTimeAxis(QPainter& painter, const QRect& plot, int top) const;
    int xOf(qint64 timeMs, const QRect& plot) const;
    QColor hue(FigureHue hue) const;

    const LinkHistory* history;
    qint64 newestMs = 0;
    int labelWidth = 0;
};
