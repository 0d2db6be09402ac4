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
            QCOMPARE(audio->paInitError, int(paNoError));
            audio->EnumerateAudioDevices();
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
            warmUp.reset();
            QVERIFY(portAudioIsUp());
            audio.reset();
            QVERIFY(!portAudioIsUp());
        }
        // A warm-up nobody used (the panel refused to start) is waited for and undone.
        std::make_unique<PortAudioWarmUp>().reset();
        QVERIFY(!portAudioIsUp());
    }
};

QTEST_GUILESS_MAIN(TestPortAudioWarmUp)
#include "tst_portaudiowarmup.moc"
