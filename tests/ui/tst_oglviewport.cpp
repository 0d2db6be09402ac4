#include "oglviewport.h"

#include <QtTest>

namespace {
constexpr float meterShape = 1.0f / 7.0f;
}

class TestOglViewport : public QObject {
    Q_OBJECT

private slots:
    void letterbox_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<double>("dpr");
        QTest::addColumn<QRect>("viewport");
        // Taller than the shape: full width, bands above and below (one pixel more above).
        QTest::newRow("meter 500x80") << QSize(500, 80) << 1.0 << QRect(0, 4, 500, 71);
        QTest::newRow("700x200") << QSize(700, 200) << 1.0 << QRect(0, 50, 700, 100);
        // Wider than the shape: full height; 100 / (1/7 in single precision) is just below 700.
        QTest::newRow("1000x100") << QSize(1000, 100) << 1.0 << QRect(150, 0, 699, 100);
        // Exactly the shape: the truncated division loses a pixel here too.
        QTest::newRow("exact shape 700x100") << QSize(700, 100) << 1.0 << QRect(0, 0, 699, 100);
        QTest::newRow("meter at ratio 2") << QSize(500, 80) << 2.0 << QRect(0, 9, 1000, 142);
        QTest::newRow("meter at ratio 1.5") << QSize(500, 80) << 1.5 << QRect(0, 6, 750, 107);
        QTest::newRow("narrow column 10x500") << QSize(10, 500) << 1.0 << QRect(0, 249, 10, 1);
        QTest::newRow("zero width") << QSize(0, 80) << 1.0 << QRect(0, 0, 0, 0);
        QTest::newRow("zero height") << QSize(500, 0) << 1.0 << QRect(0, 0, 0, 0);
    }
    void letterbox() {
        QFETCH(QSize, size);
        QFETCH(double, dpr);
        const GLViewport vp = computeViewport(size.width(), size.height(), dpr, meterShape);
        QTEST(QRect(vp.x, vp.y, vp.width, vp.height), "viewport");
    }

    void staysInsideTheWidgetAndCentred() {
        for (int w = 1; w <= 1200; w += 37) {
            for (int h = 1; h <= 400; h += 13) {
                const GLViewport vp = computeViewport(w, h, 1.0, meterShape);
                QVERIFY2(vp.x >= 0 && vp.y >= 0, qPrintable(QString("%1x%2").arg(w).arg(h)));
                QVERIFY(vp.x + vp.width <= w);
                QVERIFY(vp.y + vp.height <= h);
                // One side always fills the widget; the other band is split evenly (to a pixel).
                QVERIFY(vp.width == w || vp.height == h);
                QVERIFY(qAbs((w - vp.width - vp.x) - vp.x) <= 1);
                QVERIFY(qAbs((h - vp.height - vp.y) - vp.y) <= 1);
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestOglViewport)
#include "tst_oglviewport.moc"
