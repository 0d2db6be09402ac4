// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssmeterwidget.h"
#include "hsspinner.h"
#include "letterbox.h"
#include "meterlevel.h"
#include "themestylesheet.h"

#include <QPaintEvent>
#include <QTimer>
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
    // The pictures drawn before the meters were painted in software, pixel for pixel: every
    // label, at rest, lit with a peak marker in each zone, at full scale. Readings off the scale
    // or not a number show as its ends; a peak between bars marks the bar it covers. The meters
    // paint their own colours, so the theme does not change them.
    void meterMatchesReference_data() {
        QTest::addColumn<QList<double>>("readings"); // infinity: back to the bottom
        QTest::addColumn<QString>("picture");        // its state, then the meter's label
        QTest::newRow("at rest") << QList<double>{} << "rest-L";
        QTest::newRow("below the bottom") << QList<double>{-80} << "rest-L";
        QTest::newRow("not a number") << QList<double>{qQNaN()} << "rest-L";
        QTest::newRow("back to the bottom") << QList<double>{-5, -20, qInf()} << "rest-L";
        QTest::newRow("held peak in the red") << QList<double>{-1, -8} << "lit-L";
        QTest::newRow("held peak in the green") << QList<double>{-6, -20} << "lit-R";
        QTest::newRow("held peak in the blue") << QList<double>{-24, -33} << "lit-M";
        QTest::newRow("between bars") << QList<double>{-20.4, -30.5} << "between-L";
        QTest::newRow("above the top") << QList<double>{3} << "full-L";
    }
    void meterMatchesReference() {
        QFETCH(QList<double>, readings);
        QFETCH(QString, picture);
        HSSMeterWidget m(nullptr, picture.right(1));
        for (double reading : readings)
            qIsInf(reading) ? m.updateValues() : m.setDBm(float(reading));
        QCOMPARE(shown(m), reference("meter-" + picture));
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
        QTRY_COMPARE(log.rects.size(), 1);
        QCOMPARE(log.rects.first(), QRect(26, 12, 71, 23)); // the bars from -49 to -42
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
        QTest::newRow("top bar") << QSize(500, 80) << meter << 0 << QRect(477, 12, 6, 23);
        QTest::newRow("taller") << QSize(700, 200) << QRect(0, 50, 700, 100) << -50
                                << QRect(23, 60, 10, 32);
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
        const QImage first = shown(*spinner);
        for (int step = 0; step < 4; ++step)
            QMetaObject::invokeMethod(spinner, "rotate");
        const QImage fourth = shown(*spinner);
        applyTheme("default");
        QCOMPARE(first, reference(QString("spinner-%1-0").arg(theme)));
        QCOMPARE(fourth, reference(QString("spinner-%1-4").arg(theme)));
    }
};

QTEST_MAIN(TestMeters)
#include "tst_meters.moc"
