#include "meterlevel.h"

#include <QtTest>
#include <cmath>
#include <limits>

namespace {
constexpr float bottom = -50.0f;
constexpr float top = 0.0f;

// "reading / peak", and " held" while the peak is held.
QString state(const MeterLevel& level) {
    return QString("%1 / %2%3")
        .arg(double(level.value()))
        .arg(double(level.peak()))
        .arg(level.peakHeld() ? " held" : "");
}
} // namespace

class TestMeterLevel : public QObject {
    Q_OBJECT

private slots:
    void readingsAreClamped_data() {
        QTest::addColumn<float>("reading");
        QTest::addColumn<float>("shown");
        QTest::newRow("above the top") << 3.0f << 0.0f;
        QTest::newRow("below the bottom") << -80.0f << -50.0f;
        QTest::newRow("silence (-inf)") << -std::numeric_limits<float>::infinity() << -50.0f;
        QTest::newRow("overload (+inf)") << std::numeric_limits<float>::infinity() << 0.0f;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << -50.0f;
        QTest::newRow("inside") << -23.5f << -23.5f;
    }
    void readingsAreClamped() {
        QFETCH(float, reading);
        QFETCH(float, shown);
        MeterLevel level(bottom, top);
        QCOMPARE(state(level), "-50 / -50");
        level.setDb(reading, 0);
        QCOMPARE(level.value(), shown);
        QCOMPARE(level.peak(), shown);
    }

    void peakIsHeldForOneSecond() {
        MeterLevel level(bottom, top);
        level.setDb(-10.0f, 1000);
        level.setDb(-40.0f, 1500);
        QCOMPARE(state(level), "-40 / -10 held");
        level.setDb(-40.0f, 1999); // 999 ms: still held
        QCOMPARE(state(level), "-40 / -10 held");
        level.setDb(-40.0f, 2000); // 1000 ms: the hold ends, the peak stays for this reading
        QCOMPARE(state(level), "-40 / -10");
        level.setDb(-40.0f, 2001);
        QCOMPARE(state(level), "-40 / -16");
    }

    void peakFallsByReadingsNotTime() {
        MeterLevel level(bottom, top);
        level.setDb(-10.0f, 0);
        level.setDb(-45.0f, 5000); // ends the hold
        // Each further reading below the peak takes 15 % of its distance to the bottom.
        const QList<float> expected{-16.0f, -21.1f, -25.435f, -29.11975f, -32.2518f};
        qint64 now = 5000;
        for (float e : expected) {
            level.setDb(-45.0f, now += 100000); // time does not matter once the hold is over
            QVERIFY2(std::fabs(level.peak() - e) < 1e-3f,
                     qPrintable(QString::number(level.peak())));
            QCOMPARE(level.value(), -45.0f);
        }
        // A reading at or above the falling peak catches it again and starts a new hold.
        level.setDb(-20.0f, now + 1);
        QCOMPARE(state(level), "-20 / -20 held");
    }

    void peakSnapsOntoTheBottom() {
        MeterLevel level(bottom, top);
        level.setDb(-10.0f, 0);
        level.setDb(-50.0f, 1000);
        QVERIFY(!level.peakHeld());
        float previous = level.peak();
        int readings = 0;
        while (level.peak() > bottom && readings < 100) {
            level.setDb(-50.0f, 2000 + readings);
            ++readings;
            if (level.peak() > bottom) {
                QVERIFY(level.peak() < previous);
                QVERIFY(level.peak() >= bottom + 0.5f);
            }
            previous = level.peak();
        }
        QCOMPARE(level.peak(), bottom);
        // 40 dB shrinks by 0.85 per reading to below 0.5 dB after 27 readings.
        QCOMPARE(readings, 27);
    }

    void equalReadingRestartsTheHold() {
        MeterLevel level(bottom, top);
        level.setDb(-10.0f, 0);
        level.setDb(-10.0f, 900); // equal to the held peak: the hold starts again here
        level.setDb(-30.0f, 1899);
        QCOMPARE(state(level), "-30 / -10 held");
        level.setDb(-30.0f, 1900);
        QCOMPARE(state(level), "-30 / -10");
    }

    void resetAndBottomDropThePeak() {
        MeterLevel level(bottom, top);
        level.setDb(-5.0f, 0);
        level.setDb(-20.0f, 10);
        level.resetPeak();
        QCOMPARE(state(level), "-20 / -50");
        // The next reading is above the peak and becomes the new one.
        level.setDb(-25.0f, 20);
        QCOMPARE(state(level), "-25 / -25 held");
        level.toBottom(30);
        QCOMPARE(level.value(), bottom);
        QCOMPARE(level.peak(), bottom);
        level.setDb(-49.0f, 40);
        QCOMPARE(level.peak(), -49.0f);
    }
};

QTEST_APPLESS_MAIN(TestMeterLevel)
#include "tst_meterlevel.moc"
