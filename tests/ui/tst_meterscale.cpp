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
};

QTEST_APPLESS_MAIN(TestMeterScale)
#include "tst_meterscale.moc"
