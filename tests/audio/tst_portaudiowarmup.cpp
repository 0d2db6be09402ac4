#include "hsportaudio.h"
#include "portaudiowarmup.h"

#include <QtTest>

#include <portaudio.h>

namespace {

// PortAudio answers paNotInitialized to any query once every initialisation has been undone.
bool portAudioIsUp() {
    return Pa_GetDeviceCount() != paNotInitialized;
}

} // namespace

class TestPortAudioWarmUp : public QObject {
    Q_OBJECT

private slots:
    // The sound-card layer finds the same devices after a warm-up as without one, and neither
    // order of teardown leaves PortAudio initialised behind.
    void warmUpIsTransparentAndBalanced() {
        QVERIFY(!portAudioIsUp());
        QStringList withoutWarmUp;
        {
            HSPortAudio audio;
            audio.EnumerateAudioDevices();
            withoutWarmUp = audio.outputDevices.keys() + audio.inputDevices.keys();
        }
        QVERIFY(!portAudioIsUp());
        QVERIFY2(withoutWarmUp.contains("Line Volume (2- UMX VAC)"),
                 "the audio server's devices are missing; is scripts/audio-server running?");

        {
            auto warmUp = std::make_unique<PortAudioWarmUp>();
            auto audio = std::make_unique<HSPortAudio>();
            audio->EnumerateAudioDevices();
            QCOMPARE(audio->paInitError, int(paNoError));
            QCOMPARE(audio->outputDevices.keys() + audio->inputDevices.keys(), withoutWarmUp);
            // The window goes first in the panel; the warm-up still holds PortAudio up.
            audio.reset();
            QVERIFY(portAudioIsUp());
            warmUp.reset();
            QVERIFY(!portAudioIsUp());
        }
        {
            auto warmUp = std::make_unique<PortAudioWarmUp>();
            auto audio = std::make_unique<HSPortAudio>();
            audio->EnumerateAudioDevices();
            warmUp.reset();
            QVERIFY(portAudioIsUp());
            audio.reset();
            QVERIFY(!portAudioIsUp());
        }
        {
            // A layer that never needed PortAudio holds no reference of its own.
            auto warmUp = std::make_unique<PortAudioWarmUp>();
            HSPortAudio audio;
            warmUp.reset();
            QVERIFY(!portAudioIsUp());
        }
        QVERIFY(!portAudioIsUp());
        {
            // Built during the probe, the layer looks a device up without an enumeration of its
            // own: the lookup completes the initialisation and builds the catalogue first.
            PortAudioWarmUp warmUp;
            HSPortAudio audio;
            QVERIFY(audio.findInputDevice("Line In (UMX VAC)") >= 0);
            QCOMPARE(audio.outputDevices.keys() + audio.inputDevices.keys(), withoutWarmUp);
        }
        QVERIFY(!portAudioIsUp());
        // A warm-up nobody used (the panel refused to start) is waited for and undone.
        std::make_unique<PortAudioWarmUp>().reset();
        QVERIFY(!portAudioIsUp());
    }

    // The window registers for the end of the probe: the callback runs once, later, in the
    // context's thread; without a probe in progress it runs at once.
    void callbackRunsWhenTheProbeIsDone() {
        QObject context;
        int runs = 0;
        whenPortAudioWarmedUp(&context, [&] { ++runs; });
        QCOMPARE(runs, 1);

        {
            PortAudioWarmUp warmUp;
            const QThread* ranIn = nullptr;
            whenPortAudioWarmedUp(&context, [&] {
                ++runs;
                ranIn = QThread::currentThread();
            });
            QCOMPARE(runs, 1);
            QTRY_COMPARE_WITH_TIMEOUT(runs, 2, 10000);
            QCOMPARE(ranIn, context.thread());
            QVERIFY(portAudioWarmUpPending());
            awaitPortAudioWarmUp();
            QVERIFY(!portAudioWarmUpPending());
            whenPortAudioWarmedUp(&context, [&] { ++runs; });
            QCOMPARE(runs, 3);
        }
        QCoreApplication::processEvents();
        QCOMPARE(runs, 3);
        QVERIFY(!portAudioIsUp());
    }
};

QTEST_GUILESS_MAIN(TestPortAudioWarmUp)
#include "tst_portaudiowarmup.moc"
