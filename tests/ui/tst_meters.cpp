// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssmeterwidget.h"
#include "hsspinner.h"
#include "letterbox.h"
#include "meterlevel.h"
#include "themestylesheet.h"

#include <QPaintEvent>
#include <QtTest>

// The picture on screen: a meter's frame that is due is drawn now rather than on its clock.
static QImage shown(QWidget& widget) {
    auto* frame = widget.findChild<QTimer*>("frameTimer");
    if (frame && frame->isActive()) {
        frame->stop();
        QMetaObject::invokeMethod(frame, "timeout");
    }
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
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
    void init() { applyTheme("default"); }

    // The reference pictures, pixel for pixel: every label, lit with a peak marker in each zone, at
    // rest and at full scale. Readings off the scale or not a number show as its ends; a peak
    // between bars marks the bar it covers. The meters paint their own colours, so the theme does
    // not change them; the spinner is drawn in every theme, the red dot at three o'clock, then four
    // steps on.
    void matchesReference_data() {
        QTest::addColumn<QList<double>>("readings"); // infinity: back to the bottom
        QTest::addColumn<QString>("picture");        // meter-STATE-LABEL or spinner-THEME-STEPS
        QTest::newRow("back to the bottom, then below it and not a number")
            << QList<double>{-5, -20, qInf(), -80, qQNaN()} << "meter-rest-L";
        QTest::newRow("held peak in the red") << QList<double>{-1, -8} << "meter-lit-L";
        QTest::newRow("held peak in the green") << QList<double>{-6, -20} << "meter-lit-R";
        QTest::newRow("held peak in the blue") << QList<double>{-24, -33} << "meter-lit-M";
        QTest::newRow("between bars") << QList<double>{-20.4, -30.5} << "meter-between-L";
        QTest::newRow("above the top") << QList<double>{3} << "meter-full-L";
        for (const QString& theme : QStringList{"default"} + themeIds())
            for (const char* steps : {"0", "4"})
                QTest::addRow("spinner, %s, %s steps", qPrintable(theme), steps)
                    << QList<double>{} << QString("spinner-%1-%2").arg(theme, steps);
    }
    void matchesReference() {
        QFETCH(QList<double>, readings);
        QFETCH(QString, picture);
        const QImage reference = QImage(QFINDTESTDATA("references/" + picture + ".png"))
                                     .convertToFormat(QImage::Format_RGB32);
        if (picture.startsWith("meter-")) {
            HSSMeterWidget m(nullptr, picture.right(1));
            for (double reading : readings)
                qIsInf(reading) ? m.updateValues() : m.setDBm(float(reading));
            QCOMPARE(shown(m), reference);
            return;
        }
        applyTheme(picture.section('-', 1, 1));
        QWidget row;
        row.setFixedSize(100, 100);
        auto* spinner = new HSSpinner(&row);
        spinner->start();
        spinner->findChild<QTimer*>()->stop(); // stepped by hand
        row.show();
        for (int step = 0; step < picture.right(1).toInt(); ++step)
            QMetaObject::invokeMethod(spinner, "rotate");
        QCOMPARE(shown(*spinner), reference);
    }

    // A frame repaints the bars a reading changed and nothing else; a reading that changes no bar
    // asks for no frame.
    void frameRepaintsTheChangedBars() {
        HSSMeterWidget m(nullptr, "L");
        m.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m));
        PaintLog log;
        m.installEventFilter(&log);
        auto* frame = m.findChild<QTimer*>("frameTimer");
        m.setDBm(-50);
        QVERIFY(!frame->isActive());
        m.setDBm(-40);
        m.setDBm(-44); // the peak marker: -42
        QVERIFY(frame->isActive());
        frame->stop();
        QMetaObject::invokeMethod(frame, "timeout");
        // The bars from -49 to -42.
        QTRY_COMPARE(log.rects, QVector<QRect>{QRect(26, 12, 71, 23)});
    }

    // The peak is held for a second; a reading equal to it starts the second again. Then it
    // falls by 15 % of its height above the bottom at each further reading; a reset drops it.
    void peakHoldsThenFalls() {
        MeterLevel level(-50, 0);
        level.setDb(-10, 0);
        level.setDb(-10, 900);
        level.setDb(-30, 1899);
        QStringList peaks;
        for (qint64 ms : {1900, 1901, 1902, 1903}) {
            level.setDb(-45, ms);
            peaks << QString::number(level.peak(), 'f', 3);
        }
        QCOMPARE(peaks, QStringList({"-10.000", "-16.000", "-21.100", "-25.435"}));
        level.resetPeak();
        QCOMPARE(level.peak(), -50.0f);
    }

    // The drawing keeps its shape, centred in whole pixels, the odd row above it; a bar covers
    // the pixels whose centres lie inside it, in a stretched drawing too.
    void barsInTheLetterbox_data() {
        QTest::addColumn<QSize>("widget");
        QTest::addColumn<QRect>("box");
        QTest::addColumn<int>("db");
        QTest::addColumn<QRect>("pixels");
        const QRect meter(0, 5, 500, 71);
        QTest::newRow("bottom bar") << QSize(500, 80) << meter << -50 << QRect(17, 12, 6, 23);
        QTest::newRow("wider, truncated")
            << QSize(1000, 100) << QRect(150, 0, 699, 100) << -50 << QRect(173, 10, 10, 32);
        QTest::newRow("empty") << QSize(0, 80) << QRect() << -50 << QRect();
    }
    void barsInTheLetterbox() {
        QFETCH(QSize, widget);
        QFETCH(int, db);
        const QRect area = letterbox(widget, HSSMeterWidget::aspectRatio);
        QTEST(area, "box");
        MeterScale scale;
        scale.layout(500, 80);
        QTEST(meterBarPixels(scale, db, QSize(500, 80), area), "pixels");
    }
};

QTEST_MAIN(TestMeters)
#include "tst_meters.moc"
