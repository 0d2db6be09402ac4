// SPDX-License-Identifier: GPL-3.0-or-later

#include "standinsoundcard.h"

#include <QtTest>

#include <atomic>
#include <thread>

static constexpr int kBlocks = 20000;

// Block k: a varying whole number of groups of four samples, every sample k; the 2:1 reduction
// makes it as many bytes as it has samples.
static QVector<qint16> captured(int k) {
    return QVector<qint16>(4 * (16 + k % 48), qint16(k));
}

// The capture thread delivers blocks while the worker's thread takes the latest one after each
// notification, as the audio worker does: the worker must only ever see one block whole, each
// newer than the one before.
class TestCaptureHandOver : public QObject {
    Q_OBJECT

private slots:
    void workerSeesOnlyWholeBlocks() {
        StandInSoundCard card;
        std::atomic<int> taken{0};
        std::atomic<bool> stop{false};
        std::thread capture([&] {
            for (int k = 1; k <= kBlocks && !stop; ++k) {
                card.pushCapture(captured(k));
                while (k - taken > 64 && !stop) // keeps the two threads interleaved
                    std::this_thread::yield();
            }
        });
        bool whole = true;
        while (whole && taken != kBlocks) {
            const QByteArray& block = card.latestCapturedData();
            const auto* samples = reinterpret_cast<const qint16*>(block.constData());
            const int k = block.isEmpty() ? 0 : samples[0];
            if (k == taken)
                continue;
            whole = k > taken && block.size() == captured(k).size() &&
                    std::count(samples, samples + block.size() / 2, k) == block.size() / 2;
            taken = k;
        }
        stop = true;
        capture.join();
        QVERIFY2(whole, qPrintable(QString("block %1").arg(taken)));
        QCOMPARE(taken.load(), kBlocks);
    }
};

QTEST_GUILESS_MAIN(TestCaptureHandOver)
#include "tst_capturehandover.moc"
