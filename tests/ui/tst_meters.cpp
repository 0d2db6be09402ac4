// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssmeterwidget.h"
#include "hsspinner.h"
#include "letterbox.h"
#include "meterlevel.h"
#include "themestylesheet.h"

#include <QPaintEvent>
#include <QTimer>
#include <QtTest>

// The picture on screen: the frame that is due is drawn now rather than on its clock.
static QImage shown(HSSMeterWidget& meter) {
    auto* frame = meter.findChild<QTimer*>("frameTimer");
    if (frame->isActive()) {
        frame->stop();
        QMetaObject::invokeMethod(frame, "timeout");
    }
    return meter.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

static QImage reference(const QString& name) {
    return QImage(QFINDTESTDATA("references/" + name + ".png"))
        .convertToFormat(QImage::Format_RGB32);
}

// Paint events a widget receives, by the rectangle they repaint.
class PaintLog : public QObject {
public:
    QVector<QRect> rects;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            rects << static_cast<QPaintEvent*>(event)->rect();
        return false;
    }
};

class TestMeters : public QObject {
    Q_OBJECT

private slots:
    // Which bars a run of readings lights, as the top bar of each run of lit bars: "-40 -12" is
    // -50 to -40 lit, and the peak marker at -12.
    void barsShowReadingAndPeak_data() {
        QTest::addColumn<QList<double>>("readings"); // infinity: back to the bottom
        QTest::addColumn<QString>("lit");
        QTest::newRow("at rest") << QList<double>{} << "-50";
        QTest::newRow("above the top") << QList<double>{3} << "0";
        QTest::newRow("below the bottom") << QList<double>{-80} << "-50";
        QTest::newRow("not a number") << QList<double>{qQNaN()} << "-50";
        QTest::newRow("held peak") << QList<double>{-10, -40} << "-40 -12";
        QTest::newRow("held peak in the red") << QList<double>{-1, -8} << "-8 -3";
        QTest::newRow("between bars") << QList<double>{-20.4, -30.5} << "-31 -22";
        QTest::newRow("back to the bottom") << QList<double>{-5, -20, qInf()} << "-50";
    }
    void barsShowReadingAndPeak() {
        QFETCH(QList<double>, readings);
        MeterLevel level(-50, 0);
        for (double reading : readings)
            qIsInf(reading) ? level.toBottom(0) : level.setDb(float(reading), 0);
        MeterBarWalk walk(level.value(), level.peak());
        QStringList tops;
        for (int db = -50, lit = 0; db <= 1; ++db) {
            const bool now = db <= 0 && walk.next(db) != MeterBarLight::Dark;
            if (lit && !now)
                tops << QString::number(db - 1);
            lit = now;
        }
        QTEST(tops.join(' '), "lit");
    }

    // The pictures drawn before the meters were painted in software, pixel for pixel: every
    // label, at rest, lit with a peak marker in each zone, at full scale. The meters paint their
    // own colours, so the theme does not change them.
    void meterMatchesReference_data() {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QList<float>>("readings");
        QTest::newRow("rest-L") << "L" << QList<float>{};
        QTest::newRow("lit-L") << "L" << QList<float>{-1, -8};
        QTest::newRow("lit-R") << "R" << QList<float>{-6, -20};
        QTest::newRow("lit-M") << "M" << QList<float>{-24, -33};
        QTest::newRow("full-L") << "L" << QList<float>{3};
    }
    void meterMatchesReference() {
        QFETCH(QString, label);
        QFETCH(QList<float>, readings);
        HSSMeterWidget m(nullptr, label);
        for (float reading : readings)
            m.setDBm(reading);
        QCOMPARE(shown(m), reference(QString("meter-") + QTest::currentDataTag()));
    }

    // A frame repaints the bars a reading changed and nothing else; a reading that changes no bar
    // asks for no frame.
    void frameRepaintsTheChangedBars() {
        QWidget window;
        auto* m = new HSSMeterWidget(&window, "L");
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        PaintLog log;
        m->installEventFilter(&log);
        m->setDBm(-50);
        QVERIFY(!m->findChild<QTimer*>("frameTimer")->isActive());
        m->setDBm(-40);
        m->setDBm(-44); // the peak marker: -42
        auto* frame = m->findChild<QTimer*>("frameTimer");
        QVERIFY(frame->isActive());
        frame->stop();
        QMetaObject::invokeMethod(frame, "timeout");
        QTRY_COMPARE(log.rects.size(), 1);
        MeterScale scale;
        scale.layout(m->width(), m->height());
        const QRect area = letterbox(m->size(), HSSMeterWidget::aspectRatio);
        const QRect changed = meterBarPixels(scale, -49, m->size(), area) |
                              meterBarPixels(scale, -42, m->size(), area);
        QCOMPARE(log.rects.first(), changed);
    }

    // The peak is held for a second; a reading equal to it starts the second again. Then it
    // falls by 15 % of its height above the bottom at each further reading; a reset drops it.
    void peakHoldsThenFalls() {
        MeterLevel level(-50, 0);
        level.setDb(-10, 0);
        level.setDb(-10, 900);
        level.setDb(-30, 1899);
        QVERIFY(level.peakHeld());
        QStringList peaks;
        for (qint64 ms : {1900, 1901, 1902, 1903}) {
            level.setDb(-45, ms);
            peaks << QString::number(level.peak(), 'f', 3);
        }
        QCOMPARE(peaks, QStringList({"-10.000", "-16.000", "-21.100", "-25.435"}));
        level.resetPeak();
        QCOMPARE(level.peak(), -50.0f);
    }

    // The drawing keeps its shape, centred in whole pixels, the odd row above it.
    void letterboxKeepsTheShape_data() {
        QTest::addColumn<QSize>("area");
        QTest::addColumn<QRect>("box");
        QTest::newRow("meter") << QSize(500, 80) << QRect(0, 5, 500, 71);
        QTest::newRow("taller") << QSize(700, 200) << QRect(0, 50, 700, 100);
        QTest::newRow("wider, truncated") << QSize(1000, 100) << QRect(150, 0, 699, 100);
        QTest::newRow("empty") << QSize(0, 80) << QRect();
    }
    void letterboxKeepsTheShape() {
        QFETCH(QSize, area);
        QTEST(letterbox(area, HSSMeterWidget::aspectRatio), "box");
    }

    // A bar covers the pixels whose centres lie inside it, in a stretched drawing too.
    void barPixels_data() {
        QTest::addColumn<QSize>("widget");
        QTest::addColumn<int>("db");
        QTest::addColumn<QRect>("pixels");
        QTest::newRow("bottom bar") << QSize(500, 80) << -50 << QRect(17, 12, 6, 23);
        QTest::newRow("top bar") << QSize(500, 80) << 0 << QRect(477, 12, 6, 23);
        QTest::newRow("wider widget") << QSize(1000, 100) << -50 << QRect(173, 10, 10, 32);
    }
    void barPixels() {
        QFETCH(QSize, widget);
        QFETCH(int, db);
        MeterScale scale;
        scale.layout(500, 80);
        const QRect area = letterbox(widget, HSSMeterWidget::aspectRatio);
        QTEST(meterBarPixels(scale, db, QSize(500, 80), area), "pixels");
    }

    // The spinner as drawn before, in every theme: the red dot at three o'clock, then four steps
    // on.
    void spinnerMatchesReference_data() {
        QTest::addColumn<QString>("theme");
        for (const QString& theme : QStringList{"default"} + themeIds())
            QTest::newRow(qPrintable(theme)) << theme;
    }
    void spinnerMatchesReference() {
        QFETCH(QString, theme);
        applyTheme(theme);
        QWidget row;
        row.setFixedSize(100, 100);
        auto* spinner = new HSSpinner(&row);
        spinner->start();
        spinner->findChild<QTimer*>()->stop(); // stepped by hand
        row.show();
        const auto picture = [&] {
            return spinner->grab().toImage().convertToFormat(QImage::Format_RGB32);
        };
        const QImage first = picture();
        for (int step = 0; step < 4; ++step)
            QMetaObject::invokeMethod(spinner, "rotate");
        const QImage fourth = picture();
        applyTheme("default");
        QCOMPARE(first, reference(QString("spinner-%1-0").arg(theme)));
        QCOMPARE(fourth, reference(QString("spinner-%1-4").arg(theme)));
    }
};

QTEST_MAIN(TestMeters)
#include "tst_meters.moc"
