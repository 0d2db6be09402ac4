#include "capturehandover.h"

#include <QtTest>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

class TestCaptureHandOver : public QObject {
    Q_OBJECT

private slots:
    void consumerSeesOnlyTheNewestBlock() {
        CaptureHandOver handOver;
        handOver.prepare(16);
        QByteArray view;
        QVERIFY(!handOver.take(view));
        QVERIFY(view.isEmpty());

        handOver.writeBuffer() = QByteArray("first");
        handOver.publish();
        handOver.writeBuffer() = QByteArray("second");
        handOver.publish();
        QVERIFY(handOver.take(view));
        QCOMPARE(view, QByteArray("second"));
        // Nothing new: the block stays as it was.
        QVERIFY(!handOver.take(view));
        QCOMPARE(view, QByteArray("second"));

        handOver.writeBuffer() = QByteArray("third");
        handOver.publish();
        QCOMPARE(view, QByteArray("second"));
        QVERIFY(handOver.take(view));
        QCOMPARE(view, QByteArray("third"));

        // Preparing again forgets a block published but not taken.
        handOver.writeBuffer() = QByteArray("old");
        handOver.publish();
        handOver.prepare(16);
        QVERIFY(!handOver.take(view));
    }

    // A producer publishes blocks whose every byte is the block's number, with lengths that vary;
    // a consumer on another thread must never see a mixed or shortened block, and numbers only
    // grow.
    void blocksAreNeverTornAcrossThreads() {
        constexpr int kBlocks = 50000;
        constexpr int kMaxBytes = 256;
        CaptureHandOver handOver;
        handOver.prepare(kMaxBytes);
        std::atomic<bool> done{false};
        std::atomic<int> lastTaken{0};
        std::set<const char*> producerBuffers;

        std::thread producer([&] {
            for (int n = 1; n <= kBlocks; ++n) {
                QByteArray& block = handOver.writeBuffer();
                block.resize(16 + n % (kMaxBytes - 16));
                std::memset(block.data(), n & 0x7f, static_cast<size_t>(block.size()));
                block[0] = static_cast<char>(n >> 16);
                block[1] = static_cast<char>(n >> 8);
                block[2] = static_cast<char>(n);
                producerBuffers.insert(block.constData());
                handOver.publish();
                // Keeps both sides running interleaved instead of one finishing first.
                while (n - lastTaken.load() > 64 && !done.load())
                    std::this_thread::yield();
            }
            done = true;
        });

        QByteArray view;
        int last = 0;
        int taken = 0;
        bool torn = false;
        for (;;) {
            const bool finished = done.load();
            if (!handOver.take(view)) {
                if (finished)
                    break;
                continue;
            }
            ++taken;
            const auto* bytes = reinterpret_cast<const unsigned char*>(view.constData());
            const int n = (bytes[0] << 16) | (bytes[1] << 8) | bytes[2];
            if (n <= last || view.size() != 16 + n % (kMaxBytes - 16))
                torn = true;
            for (int i = 3; i < view.size() && !torn; ++i)
                torn = bytes[i] != (n & 0x7f);
            last = n;
            lastTaken = n;
            if (torn)
                break;
        }
        producer.join();
        done = true;
        QVERIFY2(!torn, qPrintable(QString("block %1 was torn or out of order").arg(last)));
        // How many blocks the consumer catches depends on the scheduler; it must catch some.
        QVERIFY2(taken > 0, qPrintable(QString::number(taken)));
        QCOMPARE(last, kBlocks);
        // Only the three reserved buffers circulate; the producer never allocated another.
        QCOMPARE(producerBuffers.size(), size_t(3));
    }
};

QTEST_APPLESS_MAIN(TestCaptureHandOver)
#include "tst_capturehandover.moc"
