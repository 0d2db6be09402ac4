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
constexpr int kLaneCount = 5;
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

// Each hue as it reads on a dark window and on a light one.
constexpr QRgb kHues[][2] = {
    {0x4fc3f7, 0x0277bd}, // blue: latency
    {0xffb74d, 0xe65100}, // orange: jitter, late datagrams, reconnecting
    {0xce93d8, 0x7b1fa2}, // purple: skew, lost datagrams
    {0x81c784, 0x2e7d32}, // green: received, streaming, devices back
    {0xf48fb1, 0xc2185b}, // pink: transmitted
    {0xef5350, 0xc62828}, // red: underruns, a device unavailable
};
enum Hue { Blue, Orange, Purple, Green, Pink, Red, Grid };

const char* const kLaneTitles[kLaneCount] = {"Underruns", "Late", "Lost", "Link", "Devices"};

int laneOf(LinkEventKind kind) {
    switch (kind) {
    case LinkEventKind::Underruns:
        return 0;
    case LinkEventKind::LateDatagrams:
        return 1;
    case LinkEventKind::LostDatagrams:
        return 2;
    case LinkEventKind::Streaming:
    case LinkEventKind::Reconnecting:
    case LinkEventKind::Disconnected:
        return 3;
    case LinkEventKind::DeviceUnavailable:
    case LinkEventKind::DevicesBack:
        return 4;
    }
    return 0;
}

Hue hueOf(LinkEventKind kind) {
    switch (kind) {
    case LinkEventKind::Underruns:
    case LinkEventKind::DeviceUnavailable:
        return Red;
    case LinkEventKind::LateDatagrams:
    case LinkEventKind::Reconnecting:
        return Orange;
    case LinkEventKind::LostDatagrams:
        return Purple;
    case LinkEventKind::Streaming:
    case LinkEventKind::DevicesBack:
        return Green;
    case LinkEventKind::Disconnected:
        return Grid;
    }
    return Grid;
}

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

struct HSLinkPlot::Series {
    LinkFigure figure;
    const char* name;
    const char* unit;
    int hue;
};

HSLinkPlot::HSLinkPlot(const LinkHistory* history, QWidget* parent)
    : QWidget(parent)
    , history(history) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor HSLinkPlot::hue(int index) const {
    const QColor text = palette().color(QPalette::WindowText);
    if (index == Grid) {
        QColor grid = text;
        grid.setAlpha(kGridAlpha);
        return grid;
    }
    const bool darkWindow = palette().color(QPalette::Window).lightness() < 128;
    return QColor(kHues[index][darkWindow ? 0 : 1]);
}

int HSLinkPlot::xOf(qint64 timeMs, const QRect& plot) const {
    return plot.right() - int((newestMs - timeMs) * plot.width() / LinkHistory::kSpanMs);
}

void HSLinkPlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QFontMetrics metrics(font());
    labelWidth = metrics.horizontalAdvance(QStringLiteral("-1000"));
    for (const char* title : kLaneTitles)
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(QString(title)));
    labelWidth += 2 * kMargin;
    newestMs = history->size() > 0 ? history->sample(history->size() - 1).timeMs : 0;

    const int laneHeight = metrics.height();
    const int axisHeight = metrics.height() + kMargin;
    const int stripsHeight = height() - 2 * kMargin - axisHeight - kLaneCount * laneHeight - kGap;
    const int stripHeight = (stripsHeight - 2 * kGap) / 3;
    const QRect plot(labelWidth, kMargin, width() - labelWidth - 2 * kMargin,
                     height() - 2 * kMargin - axisHeight);

    painter.setPen(hue(Grid));
    for (int minutes = 0; minutes <= kMinutesShown; minutes += kTickMinutes) {
        const int x = plot.right() - minutes * plot.width() / kMinutesShown;
        painter.drawLine(x, plot.top(), x, plot.bottom());
    }
    QRect strip(plot.left(), plot.top(), plot.width(), stripHeight);
    paintStrip(painter, strip, "Latency and jitter",
               {{LinkFigure::Latency, "Latency", "ms", Blue},
                {LinkFigure::Jitter, "Jitter", "ms", Orange}},
               false);
    strip.translate(0, stripHeight + kGap);
    paintStrip(painter, strip, "Clock skew", {{LinkFigure::Skew, "Skew", "ppm", Purple}}, true);
    strip.translate(0, stripHeight + kGap);
    paintStrip(painter, strip, "Speed",
               {{LinkFigure::Received, "Received", "KBit/s", Green},
                {LinkFigure::Transmitted, "Sent", "KBit/s", Pink}},
               false);
    paintEvents(painter,
                QRect(plot.left(), strip.bottom() + kGap, plot.width(), kLaneCount * laneHeight));
    paintTimeAxis(painter, plot, plot.bottom() + kMargin);
}

void HSLinkPlot::paintStrip(QPainter& painter, const QRect& area, const QString& title,
                            std::initializer_list<Series> series, bool symmetric) const {
    const QFontMetrics metrics(font());
    double largest = 0.0;
    for (int i = 0; i < history->size(); ++i) {
        const LinkSample& s = history->sample(i);
        for (const Series& line : series) {
            if (s.streaming)
                largest = std::max(largest, std::fabs(figureValue(s, line.figure)));
        }
    }
    const double top = scaleTop(largest);
    const double bottom = symmetric ? -top : 0.0;
    const QRect data = area.adjusted(0, metrics.height() + kMargin, 0, -1);
    const auto yOf = [&](double v) {
        return data.bottom() -
               (std::clamp(v, bottom, top) - bottom) / (top - bottom) * data.height();
    };

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(hue(Grid));
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    const QColor text = palette().color(QPalette::WindowText);
    for (double v : {bottom, (bottom + top) / 2, top}) {
        const int y = int(yOf(v));
        painter.setPen(hue(Grid));
        painter.drawLine(area.left(), y, area.right(), y);
        painter.setPen(text);
        painter.drawText(QRect(0, y - metrics.height() / 2, labelWidth - kMargin, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(v, 'g', 4));
    }

    painter.setRenderHint(QPainter::Antialiasing, true);
    for (const Series& line : series) {
        painter.setPen(QPen(hue(line.hue), kLineWidth));
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
                run << QPointF(xOf(s->timeMs, area), yOf(figureValue(*s, line.figure)));
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
    for (const Series& line : series) {
        const QString value = latest && latest->streaming
                                  ? QString::number(qRound(figureValue(*latest, line.figure)))
                                  : QStringLiteral("-");
        const QString label = QString("%1 %2 %3").arg(line.name, value, line.unit);
        painter.fillRect(x, y + metrics.height() / 2 - 1, 3 * kMargin, 3, hue(line.hue));
        x += 4 * kMargin;
        painter.setPen(text);
        painter.drawText(QPoint(x, y + metrics.ascent()), label);
        x += metrics.horizontalAdvance(label) + 3 * kMargin;
    }
}

void HSLinkPlot::paintEvents(QPainter& painter, const QRect& area) const {
    const QFontMetrics metrics(font());
    const int laneHeight = area.height() / kLaneCount;
    painter.setPen(hue(Grid));
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::WindowText));
    for (int lane = 0; lane < kLaneCount; ++lane)
        painter.drawText(QRect(0, area.top() + lane * laneHeight, labelWidth - kMargin, laneHeight),
                         Qt::AlignRight | Qt::AlignVCenter, kLaneTitles[lane]);
    for (const LinkEvent& e : history->events()) {
        const int top = area.top() + laneOf(e.kind) * laneHeight;
        painter.fillRect(xOf(e.timeMs, area) - kMarkWidth / 2, top + 2, kMarkWidth, laneHeight - 4,
                         hue(hueOf(e.kind)));
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
