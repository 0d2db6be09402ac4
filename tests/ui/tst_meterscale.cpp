#include "meterscale.h"

#include <QtTest>

class TestMeterScale : public QObject {
    Q_OBJECT

private slots:
    void geometryOfTheFixedMeter() {
        MeterScale s;
        s.layout(500, 80);
        QCOMPARE(s.dbRange, 50.0f);
        QCOMPARE(s.scaleX0, 20.0f);
        QCOMPARE(s.scaleWidth, 460.0f);
        QCOMPARE(s.barY1, 46);
        QCOMPARE(s.barY2, 72);
        QCOMPARE(s.baselineY, 43);
        QCOMPARE(s.tickY2, 46);
        QCOMPARE(s.labelY, 96);
        QCOMPARE(s.scaleXMin, 20.0f);
        QCOMPARE(s.scaleXMax, 480.0f);
        // One decibel is 9.2 units.
        QVERIFY(qFuzzyCompare(s.xOf(-49.0f) - s.xOf(-50.0f), 9.2f));
        QVERIFY(qFuzzyCompare(s.xOf(-25.0f), 250.0f));
    }

    void geometryFollowsTheSize() {
        MeterScale s;
        s.layout(1000, 81); // odd height: its half is an integer division
        QCOMPARE(s.scaleX0, 40.0f);
        QCOMPARE(s.scaleWidth, 920.0f);
        QCOMPARE(s.barY1, 46);     // floor(40 + 6.5)
        QCOMPARE(s.barY2, 73);     // floor(26.73 + 40 + 6.5)
        QCOMPARE(s.baselineY, 43); // floor(3.25 + 40)
        QCOMPARE(s.tickY2, 46);    // floor(6.48 + 40)
        QCOMPARE(s.labelY, 96);    // floor(56.7 + 40)
        QCOMPARE(s.scaleXMax, 960.0f);
    }

    void elevenTicksWithThickEnds() {
        MeterScale s;
        s.layout(500, 80);
        QCOMPARE(s.ticks.size(), 11);
        for (int k = 0; k < s.ticks.size(); ++k) {
            QCOMPARE(s.ticks[k].db, -50 + 5 * k);
            QVERIFY(qFuzzyCompare(s.ticks[k].x, 20.0f + 46.0f * k));
            QCOMPARE(s.ticks[k].thick, k == 0 || k == 10);
        }
    }

    void ticksOfANarrowerRange() {
        MeterScale s;
        s.tickFirstDb = -20; // the first run (up to -30) is left out
        s.tickLastDb = -10;
        s.layout(500, 80);
        QCOMPARE(s.ticks.size(), 4); // the second run always starts at -25
        QCOMPARE(s.ticks[0].db, -25);
        QCOMPARE(s.ticks[3].db, -10);
        QVERIFY(!s.ticks[0].thick && !s.ticks[1].thick && !s.ticks[2].thick);
        QVERIFY(s.ticks[3].thick);
    }

    void dialTextsSkipEveryOtherTickAboveMinus30() {
        MeterScale s;
        s.layout(500, 80);
        const QVector<MeterDialText> texts = s.dialTexts(QStringLiteral("L"));
        QStringList shown;
        QList<int> ticks;
        for (const MeterDialText& t : texts) {
            shown << t.text;
            ticks << t.tick;
        }
        QCOMPARE(shown, QStringList({"L", "-45", "-40", "-35", "-30", "-20", "-10", "0"}));
        QCOMPARE(ticks, QList<int>({0, 1, 2, 3, 4, 6, 8, 10}));
    }

    void barLights_data() {
        QTest::addColumn<float>("value");
        QTest::addColumn<float>("peak");
        QTest::addColumn<int>("lastLit");
        QTest::addColumn<int>("marker"); // 1 means none

        QTest::newRow("top of scale") << 0.0f << 0.0f << 0 << 1;
        QTest::newRow("bottom") << -50.0f << -50.0f << -50 << 1;
        QTest::newRow("held peak above") << -40.0f << -10.0f << -40 << -12;
        QTest::newRow("peak on a whole dB") << -30.0f << -20.0f << -30 << -22;
        QTest::newRow("peak between dBs") << -30.0f << -20.4f << -30 << -22;
        QTest::newRow("peak just above the reading") << -30.0f << -29.5f << -30 << 1;
        QTest::newRow("peak two above the reading") << -30.0f << -28.0f << -30 << -29;
        QTest::newRow("peak three above the reading") << -30.0f << -27.0f << -30 << -29;
        QTest::newRow("fractional reading") << -30.5f << -10.0f << -31 << -12;
    }

    void barLights() {
        QFETCH(float, value);
        QFETCH(float, peak);
        QFETCH(int, lastLit);
        QFETCH(int, marker);

        MeterBarWalk walk(value, peak);
        for (int d = -50; d <= 0; ++d) {
            const MeterBarLight light = walk.next(d);
            const MeterBarLight expected = d <= lastLit  ? MeterBarLight::Lit
                                           : d == marker ? MeterBarLight::Peak
                                                         : MeterBarLight::Dark;
            QVERIFY2(light == expected, qPrintable(QString("bar %1").arg(d)));
        }
    }

    void zoneColours() {
        int blue = 0, green = 0, red = 0;
        for (int d = -50; d <= 0; ++d) {
            const MeterRgb c = meterBarColor(d, MeterBarLight::Lit);
            const MeterRgb marker = meterBarColor(d, MeterBarLight::Peak);
            QCOMPARE(marker.r, c.r);
            QCOMPARE(marker.g, c.g);
            QCOMPARE(marker.b, c.b);
            if (c.r == 44 && c.g == 173 && c.b == 246) {
                ++blue;
                QVERIFY(d <= -13);
            } else if (c.r == 88 && c.g == 223 && c.b == 15) {
                ++green;
                QVERIFY(d >= -12 && d <= -4);
            } else if (c.r == 249 && c.g == 55 && c.b == 28) {
                ++red;
                QVERIFY(d >= -3);
            } else {
                QFAIL(qPrintable(QString("bar %1 has no zone colour").arg(d)));
            }
            const MeterRgb dark = meterBarColor(d, MeterBarLight::Dark);
            QVERIFY(dark.r == 30 && dark.g == 30 && dark.b == 30);
        }
        QCOMPARE(blue, 38);
        QCOMPARE(green, 9);
        QCOMPARE(red, 4);
    }
};

QTEST_APPLESS_MAIN(TestMeterScale)
#include "tst_meterscale.moc"
