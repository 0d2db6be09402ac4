#include "oglviewport.h"

#include <QtTest>

Q_DECLARE_METATYPE(GLViewport)

namespace {
constexpr float meterShape = 1.0f / 7.0f;
}

class TestOglViewport : public QObject {
    Q_OBJECT

private slots:
    void letterbox_data() {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<double>("dpr");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");

        // Taller than the shape: full width, bands above and below (one pixel more above).
        QTest::newRow("meter 500x80") << 500 << 80 << 1.0 << 0 << 4 << 500 << 71;
        QTest::newRow("700x200") << 700 << 200 << 1.0 << 0 << 50 << 700 << 100;
        // Wider than the shape: full height; 100 / (1/7 in single precision) is just below 700.
        QTest::newRow("1000x100") << 1000 << 100 << 1.0 << 150 << 0 << 699 << 100;
        // Exactly the shape: the truncated division loses a pixel here too.
        QTest::newRow("exact shape 700x100") << 700 << 100 << 1.0 << 0 << 0 << 699 << 100;
        QTest::newRow("meter at ratio 2") << 500 << 80 << 2.0 << 0 << 9 << 1000 << 142;
        QTest::newRow("meter at ratio 1.5") << 500 << 80 << 1.5 << 0 << 6 << 750 << 107;
        QTest::newRow("narrow column 10x500") << 10 << 500 << 1.0 << 0 << 249 << 10 << 1;
        QTest::newRow("zero width") << 0 << 80 << 1.0 << 0 << 0 << 0 << 0;
        QTest::newRow("zero height") << 500 << 0 << 1.0 << 0 << 0 << 0 << 0;
    }

    void letterbox() {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(double, dpr);
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(int, width);
        QFETCH(int, height);

        const GLViewport vp = computeViewport(w, h, dpr, meterShape);
        QCOMPARE(vp.x, x);
        QCOMPARE(vp.y, y);
        QCOMPARE(vp.width, width);
        QCOMPARE(vp.height, height);
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
