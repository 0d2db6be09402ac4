#include "playoutring.h"

#include <QtTest>

#include <atomic>
#include <thread>

static constexpr std::int64_t kFrames = 400000;

// Frame p carries p in both samples (never 0, so that silence stands apart).
static void frameFor(std::int64_t p, qint16* frame) {
    frame[0] = qint16(p % 32000 + 1);
    frame[1] = qint16(p / 32000 % 32000 + 1);
}

// The audio worker writes blocks into a small ring while a callback reads and now and then drops
// its oldest audio, on two real threads: every frame the callback gets is the one for its
// position or silence, never another's, however the two interleave (and the ThreadSanitizer
// build sees every hand-over ordered).
class TestPlayoutRing : public QObject {
    Q_OBJECT

private slots:
    void readerGetsItsOwnFramesOrSilence() {
        PlayoutRing ring;
        ring.reset(256, 0);
        std::atomic<bool> written{false}, stop{false};
        std::thread worker([&] {
            qint16 block[2 * 37];
            for (std::int64_t p = 0; p < kFrames && !stop; p += 37) {
                if (p % 1000 < 37) // now and then a datagram never comes
                    continue;
                for (int i = 0; i < 37; ++i)
                    frameFor(p + i, block + 2 * i);
                ring.write(p, block, 37);
                while (ring.fill() > 240 && !stop)
                    std::this_thread::yield();
            }
            written = true;
        });
        qint16 out[2 * 29];
        qint16 expected[2];
        std::int64_t position = 0, audio = 0, wrong = -1;
        while ((!written || ring.fill() > 0) && wrong < 0) {
            if (!written && ring.fill() < 29) { // mostly behind the worker, as a primed playout
                std::this_thread::yield();
                continue;
            }
            if (position % 290 == 0)
                position += ring.discardOldest(64);
            audio += ring.read(out, 29);
            for (int i = 0; i < 29 && wrong < 0; ++i, ++position) {
                frameFor(position, expected);
                const bool silent = out[2 * i] == 0 && out[2 * i + 1] == 0;
                if (!silent && (out[2 * i] != expected[0] || out[2 * i + 1] != expected[1]))
                    wrong = position;
            }
        }
        stop = true;
        worker.join();
        QVERIFY2(wrong < 0, qPrintable(QString("frame %1").arg(wrong)));
        QVERIFY2(audio > kFrames / 2, qPrintable(QString("%1 frames of audio").arg(audio)));
    }
};

QTEST_GUILESS_MAIN(TestPlayoutRing)
#include "tst_playoutring.moc"
