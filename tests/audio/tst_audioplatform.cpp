#include "audioplatform.h"

#include <QtTest>

class TestAudioPlatform : public QObject {
    Q_OBJECT

private slots:
    void captureBufferIsRaisedToWholeHostFrames_data() {
        QTest::addColumn<int>("frameSizeIn");
        QTest::addColumn<int>("frameInMult");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<long long>("frames");
        QTest::newRow("no minimum") << 1024 << 1 << 0 << 1024LL;
        QTest::newRow("at the minimum") << 1024 << 4 << 4096 << 4096LL;
        QTest::newRow("above the minimum") << 2048 << 3 << 4096 << 6144LL;
        QTest::newRow("raised in whole blocks") << 1024 << 1 << 4096 << 4096LL;
        QTest::newRow("raised past an odd size") << 1000 << 2 << 4096 << 5000LL;
        QTest::newRow("no block at all is left alone") << 0 << 4 << 4096 << 0LL;
        QTest::newRow("a broken size is left for the checks") << -8 << 1 << 4096 << -8LL;
    }
    void captureBufferIsRaisedToWholeHostFrames() {
        QFETCH(int, frameSizeIn);
        QFETCH(int, frameInMult);
        QFETCH(int, minimum);
        QFETCH(long long, frames);
        QCOMPARE(captureBufferFrames(frameSizeIn, frameInMult, minimum), frames);
    }
};

QTEST_GUILESS_MAIN(TestAudioPlatform)
#include "tst_audioplatform.moc"
