// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssmeterwidget.h"
#include "meterlevel.h"
#include "oglviewport.h"

#include <QtTest>

// Centres of the runs of non-black pixels along one row of a picture.
static QVector<int> runs(const QImage& image, int row) {
    QVector<int> centres;
    for (int x = 0; x < image.width(); ++x) {
        const int start = x;
        while (x < image.width() && QColor(image.pixel(x, row)).value() > 15)
            ++x;
        if (x > start)
            centres << (start + x - 1) / 2;
    }
    return centres;
}

// The meter's picture, read back from its framebuffer. Its 51 bars are where a row of the picture
// at rest crosses 51 runs of colour; a bar is lit when it has the colour it has at full scale.
class TestMeters : public QObject {
    Q_OBJECT

    std::unique_ptr<HSSMeterWidget> meter;
    int barRow = 0;
    QVector<int> bars;
    QVector<QRgb> full; // each bar's colour at full scale

    // Each bar's colour; with `full`, the top bar of each run of lit bars: "-40 -12" is -50 to
    // -40 lit, and -12.
    QString picture(QVector<QRgb>* colours = nullptr) {
        const QImage image = meter->grabFramebuffer();
        QVector<QRgb> now;
        for (int x : qAsConst(bars))
            now << image.pixel(x, barRow);
        if (colours)
            *colours = now;
        QStringList tops;
        for (int i = 0; i < 51 && !full.isEmpty(); ++i)
            if (now[i] == full[i] && (i == 50 || now[i + 1] != full[i + 1]))
                tops << QString::number(i - 50);
        return tops.join(' ');
    }

private slots:
    void init() { (meter = std::make_unique<HSSMeterWidget>(nullptr, "L"))->show(); }

    // At full scale the bars are blue from -50, green from -12 and red from -3.
    void initTestCase() {
        init();
        const QImage image = meter->grabFramebuffer();
        while (barRow < image.height() && (bars = runs(image, barRow)).size() != 51)
            ++barRow;
        QCOMPARE(bars.size(), 51);
        meter->setDBm(3);
        picture(&full);
        QString zoneStarts;
        for (int i = 0; i < 51; ++i)
            zoneStarts += i > 0 && full[i] == full[i - 1] ? "" : QString(" %1").arg(i - 50);
        QCOMPARE(zoneStarts, " -50 -12 -3");
        QVERIFY(qBlue(full[0]) > qGreen(full[0]) && qBlue(full[0]) > qRed(full[0])); // blue
    }

    void barsShowReadingAndPeak_data() {
        QTest::addColumn<QList<double>>("readings"); // infinity: back to the bottom
        QTest::addColumn<QString>("picture");
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
        for (double reading : readings)
            qIsInf(reading) ? meter->updateValues() : meter->setDBm(float(reading));
        QTEST(picture(), "picture");
    }

    // Held for a second, the peak then stays for one more reading and falls by 15 % of its height
    // at each further one; a reset drops it.
    void peakHoldsThenFalls() {
        meter->setDBm(-10);
        QTest::qWait(1100);
        QStringList pictures;
        for (int i = 0; i < 3; ++i) {
            meter->setDBm(-45);
            pictures << picture();
        }
        meter->resetPeak();
        QCOMPARE(pictures << picture(), QStringList({"-45 -12", "-45 -18", "-45 -23", "-45"}));
    }

    // What the picture cannot time: a reading equal to the held peak restarts the hold.
    void peakTiming() {
        MeterLevel level(-50, 0);
        level.setDb(-10, 0);
        level.setDb(-10, 900);
        level.setDb(-30, 1899);
        QVERIFY(level.peakHeld());
    }

    // The drawing space keeps its shape on a wider widget (height over width 1/7), centred and
    // truncated to whole pixels.
    void drawingSpaceIsCentred() {
        const GLViewport vp = computeViewport(1000, 100, 1.0, 1.0f / 7);
        QCOMPARE(QRect(vp.x, vp.y, vp.width, vp.height), QRect(150, 0, 699, 100));
    }
};

QTEST_MAIN(TestMeters)
#include "tst_meters.moc"
