#include "pacing.h"

#include <QtTest>

class TestPacing : public QObject {
    Q_OBJECT

private slots:
    void dueTimesAreExact_data() {
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("frameSize");
        QTest::addColumn<qint64>("k");
        QTest::addColumn<qint64>("expectedNs");
        QTest::newRow("first") << 48000 << 512 << qint64(0) << qint64(0);
        QTest::newRow("second") << 48000 << 512 << qint64(1) << qint64(10666666);
        QTest::newRow("one second") << 48000 << 480 << qint64(100) << qint64(1000000000);
        QTest::newRow("three datagrams") << 48000 << 512 << qint64(3) << qint64(32000000);
        // After a day the schedule is still exact to the nanosecond: 93.75 datagrams per second.
        QTest::newRow("one day") << 48000 << 512 << qint64(8100000) << qint64(86400) * 1000000000;
        QTest::newRow("a year at 96 kHz")
            << 96000 << 64 << qint64(1500) * 31536000 << qint64(31536000) * 1000000000;
    }
    void dueTimesAreExact() {
        QFETCH(int, sampleRate);
        QFETCH(int, frameSize);
        QFETCH(qint64, k);
        const PacingSchedule schedule(sampleRate, frameSize);
        QTEST(schedule.dueNs(k), "expectedNs");
    }

    void dueCountMatchesDueTimes() {
        const PacingSchedule schedule(44100, 441 * 3);
        QCOMPARE(schedule.dueCount(-1), qint64(0));
        QCOMPARE(schedule.dueCount(0), qint64(1));
        for (qint64 k = 1; k < 2000; k += 37) {
            QCOMPARE(schedule.dueCount(schedule.dueNs(k) - 1), k);
            QCOMPARE(schedule.dueCount(schedule.dueNs(k)), k + 1);
        }
    }

    void gapsNeverDriftFromTheMean() {
        const PacingSchedule schedule(48000, 512);
        QCOMPARE(schedule.datagramsPerSecond(), 93.75);
        // Integer rounding spreads over the gaps instead of accumulating: each gap is within a
        // nanosecond of the nominal 10666666.67 ns.
        for (qint64 k = 1000000; k < 1000100; ++k) {
            const qint64 gap = schedule.dueNs(k + 1) - schedule.dueNs(k);
            QVERIFY2(gap == 10666666 || gap == 10666667, qPrintable(QString::number(gap)));
        }
    }
};

QTEST_APPLESS_MAIN(TestPacing)
#include "tst_pacing.moc"
