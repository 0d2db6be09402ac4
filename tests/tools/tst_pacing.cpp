#include "pacing.h"

#include <QtTest>

class TestPacing : public QObject {
    Q_OBJECT

private slots:
    // Datagram k of a 48000 Hz stream of 512-frame datagrams is due at exactly k * 512 / 48000
    // seconds, however long the stream runs, and counts as due from that nanosecond on.
    void dueTimesAreExact_data() {
        QTest::addColumn<qint64>("k");
        QTest::addColumn<qint64>("dueNs");
        QTest::newRow("the first at once") << qint64(0) << qint64(0);
        QTest::newRow("the second, rounded down") << qint64(1) << qint64(10666666);
        QTest::newRow("the third, rounded down") << qint64(2) << qint64(21333333);
        QTest::newRow("whole milliseconds") << qint64(3) << qint64(32000000);
        QTest::newRow("a day on") << qint64(8100000) << qint64(86400) * 1000000000;
        QTest::newRow("a year on") << qint64(2956500000) << qint64(31536000) * 1000000000;
    }
    void dueTimesAreExact() {
        QFETCH(qint64, k);
        QFETCH(qint64, dueNs);
        const PacingSchedule schedule(48000, 512);
        QCOMPARE(schedule.dueNs(k), dueNs);
        QCOMPARE(schedule.dueCount(dueNs), k + 1);
        QCOMPARE(schedule.dueCount(dueNs - 1), k);
    }
};

QTEST_APPLESS_MAIN(TestPacing)
#include "tst_pacing.moc"
