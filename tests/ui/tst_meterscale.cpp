#include "meterscale.h"

#include <QtTest>

class TestMeterScale : public QObject {
    Q_OBJECT

private slots:
    void geometryFollowsTheSize_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("geometry"); // x0 width xmax | bar y1-y2 baseline tick label
        QTest::newRow("the meter") << QSize(500, 80) << "20 460 480 | 46-72 43 46 96";
        // Odd height: its half is an integer division (floor(26.73 + 40 + 6.5) for the bar top).
        QTest::newRow("1000x81") << QSize(1000, 81) << "40 920 960 | 46-73 43 46 96";
    }
    void geometryFollowsTheSize() {
        QFETCH(QSize, size);
        MeterScale s;
        s.layout(size.width(), size.height());
        QCOMPARE(s.dbRange, 50.0f);
        QCOMPARE(s.scaleXMin, s.scaleX0);
        QTEST(QString("%1 %2 %3 | %4-%5 %6 %7 %8")
                  .arg(s.scaleX0)
                  .arg(s.scaleWidth)
                  .arg(s.scaleXMax)
                  .arg(s.barY1)
                  .arg(s.barY2)
                  .arg(s.baselineY)
                  .arg(s.tickY2)
                  .arg(s.labelY),
              "geometry");
        // Fifty decibels span the scale.
        QVERIFY(qFuzzyCompare(s.xOf(-49.0f) - s.xOf(-50.0f), s.scaleWidth / 50));
        QVERIFY(qFuzzyCompare(s.xOf(-25.0f), s.scaleX0 + s.scaleWidth / 2));
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
        const auto rgb = [](const MeterRgb& c) {
            return QColor(c.r, c.g, c.b);
        };
        for (int d = -50; d <= 0; ++d) {
            const QColor zone = d <= -13  ? QColor(44, 173, 246)
                                : d <= -4 ? QColor(88, 223, 15)
                                          : QColor(249, 55, 28);
            QCOMPARE(rgb(meterBarColor(d, MeterBarLight::Lit)), zone);
            QCOMPARE(rgb(meterBarColor(d, MeterBarLight::Peak)), zone);
            QCOMPARE(rgb(meterBarColor(d, MeterBarLight::Dark)), QColor(30, 30, 30));
        }
    }
};

QTEST_APPLESS_MAIN(TestMeterScale)
#include "tst_meterscale.moc"
