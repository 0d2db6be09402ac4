// SPDX-License-Identifier: GPL-3.0-or-later
// The link window's plot on its own, for bench/link-plot-cost: half an hour of figures and events,
// one more sample every second and the plot drawn again, as the open window does. Built twice:
// with the panel's QPainter plot (link_plot_probe) and with the same picture in Qt Charts
// (link_plot_probe_charts: three line charts and a scatter chart of the events), so that the two
// ways of drawing can be weighed on CPU and memory.
//
//   link_plot_probe[_charts] [seconds=60]
//   link_plot_probe --hours N    N hours of seconds through the history as fast as it goes, with a
//                                fault every second and a change of the link every minute: the
//                                heap in use after each half hour, which must stay flat

#include "linkhistory.h"

#include <QApplication>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cmath>
#include <cstdio>
#include <malloc.h>

#ifdef UMX_PROBE_CHARTS
#include <QtCharts>
#else
#include "hslinkplot.h"
#endif

namespace {

constexpr qint64 kStartMs = 1796000000000;

// The figures of second `s`: wandering latency, climbing jitter, a swinging skew, steady speeds,
// and a fault now and then.
LinkReading readingAt(int s) {
    LinkReading r{true, {}, 1500, 750};
    r.playout.delayMs = 30 + 12 * std::sin(s / 90.0);
    r.playout.cardLatencyMs = 10;
    r.playout.jitterMs = 2 + (s % 600) / 200.0;
    r.playout.skewPpm = 80 * std::cos(s / 300.0);
    r.playout.underruns = s / 400;
    r.playout.lostDatagrams = s / 250;
    return r;
}

#ifdef UMX_PROBE_CHARTS
using namespace QtCharts;

// The plot as Qt Charts draws it: a chart per strip and one for the events' lanes, the lines'
// points replaced whole each second (the way its documentation updates a series).
class ChartsPlot : public QWidget {
public:
    explicit ChartsPlot(const LinkHistory* history)
        : history(history) {
        auto* layout = new QVBoxLayout(this);
        latency = addChart(layout, {"Latency", "Jitter"});
        skew = addChart(layout, {"Skew"});
        speed = addChart(layout, {"Received", "Sent"});
        events = addChart(layout, {"Underruns", "Late", "Lost", "Link", "Devices"}, true);
    }

    void refresh() {
        const qint64 newest = history->sample(history->size() - 1).timeMs;
        const auto minutes = [newest](qint64 t) {
            return (t - newest) / 60000.0;
        };
        const LinkFigure figures[] = {LinkFigure::Latency, LinkFigure::Jitter, LinkFigure::Skew,
                                      LinkFigure::Received, LinkFigure::Transmitted};
        QList<QXYSeries*> lines = latency + skew + speed;
        for (int f = 0; f < lines.size(); ++f) {
            QVector<QPointF> points;
            points.reserve(history->size());
            for (int i = 0; i < history->size(); ++i)
                points << QPointF(minutes(history->sample(i).timeMs),
                                  figureValue(history->sample(i), figures[f]));
            lines[f]->replace(points);
        }
        QVector<QPointF> lanes[5];
        for (const LinkEvent& e : history->events())
            lanes[qMin(int(e.kind), 4)] << QPointF(minutes(e.timeMs), int(e.kind));
        for (int lane = 0; lane < 5; ++lane)
            events[lane]->replace(lanes[lane]);
    }

private:
    QList<QXYSeries*> addChart(QVBoxLayout* layout, const QStringList& names,
                               bool scatter = false) {
        auto* chart = new QChart;
        auto* x = new QValueAxis;
        x->setRange(-30, 0);
        chart->addAxis(x, Qt::AlignBottom);
        auto* y = new QValueAxis;
        chart->addAxis(y, Qt::AlignLeft);
        QList<QXYSeries*> series;
        for (const QString& name : names) {
            QXYSeries* s = scatter ? static_cast<QXYSeries*>(new QScatterSeries)
                                   : static_cast<QXYSeries*>(new QLineSeries);
            s->setName(name);
            chart->addSeries(s);
            s->attachAxis(x);
            s->attachAxis(y);
            series << s;
        }
        y->setRange(scatter ? 0 : -100, scatter ? 8 : 2000);
        auto* view = new QChartView(chart);
        view->setRenderHint(QPainter::Antialiasing);
        layout->addWidget(view);
        return series;
    }

    const LinkHistory* history;
    QList<QXYSeries*> latency, skew, speed, events;
};
#endif

int simulateHours(int hours) {
    LinkHistory history;
    constexpr int kHalfHourS = 1800;
    for (int s = 0; s < hours * 2 * kHalfHourS; ++s) {
        LinkReading r = readingAt(s);
        r.playout.underruns = r.playout.lateDatagrams = r.playout.lostDatagrams = quint64(s);
        history.record(kStartMs + s * 1000LL, r);
        if (s % 60 == 0)
            history.mark(kStartMs + s * 1000LL, LinkEventKind::DeviceUnavailable, "UMX Speaker");
        if ((s + 1) % kHalfHourS == 0)
            std::printf("after %3d min: %d samples, %zu events, heap in use %zu bytes\n",
                        (s + 1) / 60, history.size(), history.events().size(),
                        size_t(mallinfo2().uordblks));
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 2 && QString(argv[1]) == "--hours")
        return simulateHours(QString(argv[2]).toInt());
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QString(argv[1]).toInt() : 60;
    LinkHistory history;
    int second = 0;
    for (; second < LinkHistory::kCapacity; ++second)
        history.record(kStartMs + second * 1000LL, readingAt(second));
#ifdef UMX_PROBE_CHARTS
    ChartsPlot plot(&history);
    plot.refresh();
    const auto redraw = [&plot] {
        plot.refresh();
    };
#else
    HSLinkPlot plot(&history);
    const auto redraw = [&plot] {
        plot.update();
    };
#endif
    plot.resize(720, 440);
    plot.show();

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        history.record(kStartMs + second * 1000LL, readingAt(second));
        ++second;
        redraw();
    });
    tick.start(1000);
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    const int status = app.exec();
    std::printf("link_plot_probe: %d samples drawn\n", second - LinkHistory::kCapacity);
    return status;
}
