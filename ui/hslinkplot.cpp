// SPDX-License-Identifier: GPL-3.0-or-later

#include "hslinkplot.h"

#include "linkhistory.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMargin = 4;
constexpr int kGap = 6;
constexpr int kMinutesShown = LinkHistory::kSpanMs / 60000;
constexpr int kTickMinutes = 5;
constexpr int kLabelMinutes = 10;
// A second with no sample (the panel was busy or asleep) breaks a line rather than joining across.
constexpr qint64 kLineBreakMs = 2500;
// A one-pixel pen takes the painter's fast path for smooth lines; at 1.5 pixels the open window
// cost ten times the CPU.
constexpr double kLineWidth = 1.0;
constexpr int kMarkWidth = 2;
constexpr int kGridAlpha = 70;

// Each hue as it reads on a dark window and on a light one, in the order of FigureHue.
constexpr QRgb kHues[][2] = {
    {0x4fc3f7, 0x0277bd}, // blue
    {0xffb74d, 0xe65100}, // orange
    {0xce93d8, 0x7b1fa2}, // purple
    {0x81c784, 0x2e7d32}, // green
    {0xf48fb1, 0xc2185b}, // pink
    {0xef5350, 0xc62828}, // red
};

// The scale's top: the next 1, 2 or 5 times a power of ten at or above the value, at least 1.
double scaleTop(double value) {
    if (!(value > 1.0))
        return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {1.0, 2.0, 5.0}) {
        if (value <= step * power)
            return step * power;
    }
    return 10.0 * power;
}

} // namespace

HSLinkPlot::HSLinkPlot(const LinkHistory* history, QWidget* parent)
    : QWidget(parent)
    , history(history) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor HSLinkPlot::hue(FigureHue hue) const {
    if (hue == FigureHue::Grey) {
        QColor grid = palette().color(QPalette::WindowText);
        grid.setAlpha(kGridAlpha);
        return grid;
    }
    const bool darkWindow = palette().color(QPalette::Window).lightness() < 128;
    return QColor(kHues[int(hue)][darkWindow ? 0 : 1]);
}

int HSLinkPlot::xOf(qint64 timeMs, const QRect& plot) const {
    return plot.right() - int((newestMs - timeMs) * plot.width() / LinkHistory::kSpanMs);
}

// Each strip holds the levels the table draws in it, in the table's order.
void HSLinkPlot::paintEvent(QPaintEvent*) {
    QStringList strips;
    QVector<QVector<int>> stripFigures;
    for (int f = 0; f < kLinkFigureCount; ++f) {
        const LinkFigure& figure = kLinkFigures[f];
        if (figure.kind != LinkFigure::Kind::Level || !figure.strip)
            continue;
        if (!strips.contains(figure.strip)) {
            strips << figure.strip;
            stripFigures.append(QVector<int>());
        }
        stripFigures[strips.indexOf(figure.strip)] << f;
    }
    const QStringList& lanes = eventLanes();

    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QFontMetrics metrics(font());
    labelWidth = metrics.horizontalAdvance(QStringLiteral("-1000"));
    for (const QString& title : lanes)
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(title));
    labelWidth += 2 * kMargin;
    newestMs = history->size() > 0 ? history->sample(history->size() - 1).timeMs : 0;

    const int laneHeight = metrics.height();
    const int axisHeight = metrics.height() + kMargin;
    const int stripsHeight =
        height() - 2 * kMargin - axisHeight - int(lanes.size()) * laneHeight - kGap;
    const int stripHeight = (stripsHeight - int(strips.size() - 1) * kGap) / int(strips.size());
    const QRect plot(labelWidth, kMargin, width() - labelWidth - 2 * kMargin,
                     height() - 2 * kMargin - axisHeight);

    painter.setPen(hue(FigureHue::Grey));
    for (int minutes = 0; minutes <= kMinutesShown; minutes += kTickMinutes) {
        const int x = plot.right() - minutes * plot.width() / kMinutesShown;
        painter.drawLine(x, plot.top(), x, plot.bottom());
    }
    QRect strip(plot.left(), plot.top(), plot.width(), stripHeight);
    for (int i = 0; i < strips.size(); ++i) {
        if (i > 0)
            strip.translate(0, stripHeight + kGap);
        paintStrip(painter, strip, strips[i], stripFigures[i]);
    }
    paintEvents(painter, QRect(plot.left(), strip.bottom() + kGap, plot.width(),
                               int(lanes.size()) * laneHeight));
    paintTimeAxis(painter, plot, plot.bottom() + kMargin);
}

void HSLinkPlot::paintStrip(QPainter& painter, const QRect& area, const QString& title,
                            const QVector<int>& figures) const {
    const QFontMetrics metrics(font());
    double largest = 0.0;
    bool bothWays = false;
    for (int f : figures) {
        bothWays = bothWays || kLinkFigures[f].bothWays;
        for (int i = 0; i < history->size(); ++i) {
            const LinkSample& s = history->sample(i);
            if (s.streaming)
                largest = std::max(largest, std::fabs(s.values[f]));
        }
    }
    const double top = scaleTop(largest);
    const double bottom = bothWays ? -top : 0.0;
    const QRect data = area.adjusted(0, metrics.height() + kMargin, 0, -1);
    const auto yOf = [&](double v) {
        return data.bottom() -
               (std::clamp(v, bottom, top) - bottom) / (top - bottom) * data.height();
    };

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(hue(FigureHue::Grey));
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    const QColor text = palette().color(QPalette::WindowText);
    for (double v : {bottom, (bottom + top) / 2, top}) {
        const int y = int(yOf(v));
        painter.setPen(hue(FigureHue::Grey));
        painter.drawLine(area.left(), y, area.right(), y);
        painter.setPen(text);
        painter.drawText(QRect(0, y - metrics.height() / 2, labelWidth - kMargin, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(v, 'g', 4));
    }

    painter.setRenderHint(QPainter::Antialiasing, true);
    for (int f : figures) {
        painter.setPen(QPen(hue(kLinkFigures[f].hue), kLineWidth));
        QPolygonF run;
        qint64 previousMs = 0;
        for (int i = 0; i <= history->size(); ++i) {
            const LinkSample* s = i < history->size() ? &history->sample(i) : nullptr;
            if (!s || !s->streaming || s->timeMs - previousMs > kLineBreakMs) {
                if (run.size() > 1)
                    painter.drawPolyline(run);
                run.clear();
            }
            if (s && s->streaming) {
                run << QPointF(xOf(s->timeMs, area), yOf(s->values[f]));
                previousMs = s->timeMs;
            }
        }
    }
    painter.setRenderHint(QPainter::Antialiasing, false);

    // The legend names each line with its latest value.
    const LinkSample* latest =
        history->size() > 0 ? &history->sample(history->size() - 1) : nullptr;
    int x = area.left() + kMargin;
    const int y = area.top() + kMargin / 2;
    painter.setPen(text);
    painter.drawText(QPoint(x, y + metrics.ascent()), title + ":");
    x += metrics.horizontalAdvance(title + ":") + 2 * kMargin;
    for (int f : figures) {
        const LinkFigure& line = kLinkFigures[f];
        const QString value = latest && latest->streaming
                                  ? QString::number(qRound(latest->values[f]))
                                  : QStringLiteral("-");
        const QString label = QString("%1 %2 %3").arg(line.legend, value, line.unit);
        painter.fillRect(x, y + metrics.height() / 2 - 1, 3 * kMargin, 3, hue(line.hue));
        x += 4 * kMargin;
        painter.setPen(text);
        painter.drawText(QPoint(x, y + metrics.ascent()), label);
        x += metrics.horizontalAdvance(label) + 3 * kMargin;
    }
}

void HSLinkPlot::paintEvents(QPainter& painter, const QRect& area) const {
    const QStringList& lanes = eventLanes();
    const int laneHeight = area.height() / int(lanes.size());
    painter.setPen(hue(FigureHue::Grey));
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::WindowText));
    for (int lane = 0; lane < lanes.size(); ++lane)
        painter.drawText(QRect(0, area.top() + lane * laneHeight, labelWidth - kMargin, laneHeight),
                         Qt::AlignRight | Qt::AlignVCenter, lanes[lane]);
    for (const LinkEvent& e : history->events()) {
        const int top = area.top() + eventLane(e) * laneHeight;
        painter.fillRect(xOf(e.timeMs, area) - kMarkWidth / 2, top + 2, kMarkWidth, laneHeight - 4,
                         hue(eventHue(e)));
    }
}

void HSLinkPlot::paintTimeAxis(QPainter& painter, const QRect& plot, int top) const {
    const QFontMetrics metrics(font());
    painter.setPen(palette().color(QPalette::WindowText));
    for (int minutes = 0; minutes <= kMinutesShown; minutes += kLabelMinutes) {
        const QString label =
            minutes == 0 ? QStringLiteral("now") : QString("-%1 min").arg(minutes);
        const int width = metrics.horizontalAdvance(label);
        const int x = plot.right() - minutes * plot.width() / kMinutesShown;
        const int left = std::clamp(x - width / 2, 0, this->width() - width);
        painter.drawText(QPoint(left, top + metrics.ascent()), label);
    }
}
