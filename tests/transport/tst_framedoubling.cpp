#include "framedoubling.h"

#include <QRandomGenerator>
#include <QtTest>

class TestFrameDoubling : public QObject {
    Q_OBJECT

private slots:
    void doublesEveryUnit_data() {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("two frames") << QByteArray::fromHex("0102030405060708")
                                    << QByteArray::fromHex("01020304010203040506070805060708");
        QTest::newRow("partial unit zero-completed")
            << QByteArray::fromHex("b0b1b2b3b4b5")
            << QByteArray::fromHex("b0b1b2b3b0b1b2b3b4b50000b4b50000");
        QTest::newRow("one byte") << QByteArray::fromHex("7f")
                                  << QByteArray::fromHex("7f0000007f000000");
        QTest::newRow("three bytes")
            << QByteArray::fromHex("aabbcc") << QByteArray::fromHex("aabbcc00aabbcc00");
    }
    void doublesEveryUnit() {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, out);
        QCOMPARE(doubleFrames(in).toHex(), out.toHex());
    }

    void matchesTheUnitRuleOnLongDatagrams() {
        QRandomGenerator random(7);
        for (int n : {2048, 2047, 4 * 512, 1461}) {
            QByteArray in(n, Qt::Uninitialized);
            for (char& c : in)
                c = static_cast<char>(random.bounded(256));
            const QByteArray out = doubleFrames(in);
            QCOMPARE(out.size(), 8 * ((n + 3) / 4));
            for (int i = 0; i < out.size(); ++i) {
                const int source = (i / 8) * 4 + i % 4;
                const char expected = source < n ? in[source] : '\0';
                QVERIFY2(out[i] == expected, qPrintable(QString("n=%1 byte %2").arg(n).arg(i)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestFrameDoubling)
#include "tst_framedoubling.moc"
