#include "audioplatform.h"
#include "farend.h"
#include "hsportaudio.h"
#include "hsvumeter.h"
#include "log.h"
#include "logcapture.h"

#include <QtTest>

#include <set>

namespace {

const char kCableOut[] = "Line Volume (2- UMX VAC)";
const char kCableOutFarEnd[] = "UMX VAC RX Out";
const char kCableIn[] = "Line In (UMX VAC)";
const char kCableInFarEnd[] = "UMX VAC TX In";
const char kSpeaker[] = "UMX Speaker";
const char kSpeakerMonitor[] = "UMX Speaker Monitor";

constexpr int kRate = 96000;
constexpr double kLeftTone = 1000.0;
constexpr double kRightTone = 3000.0;
constexpr double kToneAmplitude = 8000.0;

// Interleaved stereo blocks with a different tone on each channel.
QByteArray stereoTone(int frames, int startFrame) {
    QByteArray block(frames * 4, Qt::Uninitialized);
    auto* s = reinterpret_cast<qint16*>(block.data());
    for (int f = 0; f < frames; ++f) {
        const double t = static_cast<double>(startFrame + f) / kRate;
        s[2 * f] =
            static_cast<qint16>(std::lround(kToneAmplitude * std::sin(2 * M_PI * kLeftTone * t)));
        s[2 * f + 1] =
            static_cast<qint16>(std::lround(kToneAmplitude * std::sin(2 * M_PI * kRightTone * t)));
    }
    return block;
}

// Which of the two tones a recorded channel carries: "L", "R", "LR" or "" for silence.
QString tonesIn(const std::vector<qint16>& samples) {
    QString found;
    if (farend::toneAmplitude(samples, kLeftTone, kRate) > kToneAmplitude / 10)
        found += "L";
    if (farend::toneAmplitude(samples, kRightTone, kRate) > kToneAmplitude / 10)
        found += "R";
    return found;
}

} // namespace

class TestHSPortAudio : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        const QString script = qEnvironmentVariable("UMX_SOURCE_DIR") + "/scripts/audio-server";
        if (QProcess::execute(script, {"status"}) != 0)
            QSKIP("the audio server is not running: start it with scripts/audio-server start");
        // The test's own far-end streams keep PortAudio initialised between the objects under
        // test, which saves the device scan on each construction.
        QCOMPARE(Pa_Initialize(), paNoError);
    }
    void cleanupTestCase() { Pa_Terminate(); }
    void init() { currentLogLevel = static_cast<int>(LogLevel::Error); }

    void catalogueListsTheDirectionOnlyDevicesByName() {
        HSPortAudio audio(nullptr);
        QCOMPARE(audio.paInitError, int(paNoError));
        QVERIFY(audio.inputDevices.isEmpty() && audio.outputDevices.isEmpty());
        audio.EnumerateAudioDevices();
        for (const char* name : {kCableIn, kCableOutFarEnd, kSpeakerMonitor})
            QVERIFY2(audio.inputDevices.contains(name), name);
        for (const char* name : {kCableOut, kCableInFarEnd, kSpeaker})
            QVERIFY2(audio.outputDevices.contains(name), name);
        // Duplex devices are in neither list; every listed one has no channel the other way.
        for (const char* duplex : {"jack", "default"})
            QVERIFY(!audio.inputDevices.contains(duplex) && !audio.outputDevices.contains(duplex));
        for (const bool capture : {true, false}) {
            const QMap<QString, int>& listed = capture ? audio.inputDevices : audio.outputDevices;
            for (auto it = listed.cbegin(); it != listed.cend(); ++it) {
                const PaDeviceInfo* info = Pa_GetDeviceInfo(it.value());
                QCOMPARE(QString::fromUtf8(info->name), it.key());
                QCOMPARE(capture ? info->maxOutputChannels : info->maxInputChannels, 0);
                QVERIFY(info->defaultSampleRate >= 48000.0);
            }
        }
        const QMap<QString, int> inputs = audio.inputDevices;
        const QMap<QString, int> outputs = audio.outputDevices;
        audio.EnumerateAudioDevices();
        QCOMPARE(audio.inputDevices, inputs);
        QCOMPARE(audio.outputDevices, outputs);

        // Lookups resolve names exactly.
        QCOMPARE(audio.findOutputDevice(kCableOut), audio.outputDevices.value(kCableOut));
        QCOMPARE(audio.outputDeviceIndex, audio.outputDevices.value(kCableOut));
        QCOMPARE(audio.findSpeakerDevice(kSpeaker), audio.outputDevices.value(kSpeaker));
        QCOMPARE(audio.findInputDevice(kCableIn), audio.inputDevices.value(kCableIn));
        // A capture device is no playback device, names are case-sensitive, unknown is -1.
        QCOMPARE(audio.findOutputDevice(kCableIn), -1);
        QCOMPARE(audio.findInputDevice(QString(kCableIn).toLower()), -1);
        QCOMPARE(audio.findSpeakerDevice("x"), -1);
        QCOMPARE(audio.speakerDeviceIndex, -1);
        QCOMPARE(audio.inputDeviceIndex, -1);
    }

    void startAudioRunsThreeStreamsAtTwiceTheHostRate() {
        HSPortAudio audio(nullptr);
        prepare(audio);
        // A start while running replaces the streams rather than adding to them.
        QVERIFY(audio.StartAudio());
        QVERIFY(audio.StartAudio());
        for (PaStream* stream : {audio.outputStream, audio.speakerStream, audio.inputStream}) {
            QVERIFY(stream);
            QCOMPARE(Pa_IsStreamActive(stream), 1);
            QCOMPARE(Pa_GetStreamInfo(stream)->sampleRate, double(kRate));
        }
        // Two stereo playback clients and one mono capture client are on the server.
        QCOMPARE(farend::jackPortsOfThisProcess(), 5);
        // The signal comes from the callback thread: counted in this thread, as the worker
        // receives it, never by a spy written from the callback thread. A receiver of this
        // scope: notifications still queued when it ends are dropped with it.
        QObject receiver;
        int ready = 0;
        connect(
            &audio, &HSPortAudio::inDataReady, &receiver, [&] { ++ready; }, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(ready > 0, 10000);
        QTRY_VERIFY(audio.inputLatency.load() != 0.0f);

        for (int stop = 0; stop < 2; ++stop) {
            audio.StopAudio();
            QVERIFY(!audio.outputStream && !audio.speakerStream && !audio.inputStream);
            QCOMPARE(audio.inputLatency.load(), 0.0f);
            QCOMPARE(farend::jackPortsOfThisProcess(), 0);
        }
    }

    void playbackReachesCableAndSpeaker_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("speakerOn");
        QTest::addColumn<QString>("speaker"); // the tones on its left and right channel
        QTest::newRow("RX1+RX2") << 0 << true << "L/R";
        QTest::newRow("RX1: right receiver") << 1 << true << "R/R";
        QTest::newRow("RX2: left receiver") << 2 << true << "L/L";
        QTest::newRow("mode 5: nothing") << 5 << true << "/";
        QTest::newRow("speaker off") << 0 << false << "/";
    }
    void playbackReachesCableAndSpeaker() {
        QFETCH(int, mode);
        QFETCH(bool, speakerOn);
        HSPortAudio audio(nullptr);
        prepare(audio);
        audio.audioOutMode = mode;
        audio.speakerOn = speakerOn;
        QVERIFY(audio.StartAudio());
        farend::Recorder cable(kCableOutFarEnd, 2, 3.0);
        farend::Recorder speaker(kSpeakerMonitor, 2, 3.0);
        QVERIFY(cable.isRecording() && speaker.isRecording());

        constexpr int kBlocks = 16; // 0.34 s of audio
        for (int b = 0; b < kBlocks; ++b) {
            QByteArray block = stereoTone(audio.frameSizeOut, b * audio.frameSizeOut);
            audio.StreamOut(block);
        }
        // The blocks written are still in the playback buffer; wait until they have come out.
        QTRY_VERIFY_WITH_TIMEOUT(tonesIn(cable.channel(0, cable.frames() - 4096)).isEmpty() &&
                                     !tonesIn(cable.channel(0)).isEmpty(),
                                 10000);
        audio.StopAudio();
        cable.stop();
        speaker.stop();
        QCOMPARE(tonesIn(cable.channel(0)), QString("L"));
        QCOMPARE(tonesIn(cable.channel(1)), QString("R"));
        QTEST(tonesIn(speaker.channel(0)) + "/" + tonesIn(speaker.channel(1)), "speaker");
        // The whole tone arrived: about as many loud frames as were written.
        const std::vector<qint16> left = cable.channel(0);
        const auto loud = std::count_if(left.begin(), left.end(),
                                        [](qint16 s) { return std::abs(s) > kToneAmplitude / 2; });
        const double writtenLoud = kBlocks * audio.frameSizeOut * (2.0 / 3.0);
        QVERIFY2(std::abs(loud - writtenLoud) < writtenLoud * 0.05,
                 qPrintable(QString::number(loud)));
    }

    void captureArrivesAtHalfRateWithItsLevel() {
        HSPortAudio audio(nullptr);
        prepare(audio);
        // A host of 512-frame blocks with the transmit buffer on "Auto": the smallest capture the
        // panel asks for, and the one the sound system is most likely to get wrong.
        audio.frameSizeIn = 1024;
        farend::TonePlayer tone(kCableInFarEnd, 1000.0, 16384.0);
        QVERIFY(tone.isPlaying());
        // A receiver of this scope: readings still queued when it ends are dropped with it.
        QObject receiver;
        QList<float> levels;
        connect(
            audio.vuMeterIn, &HSVUMeter::valueUpdated, &receiver,
            [&](float value) { levels << value; }, Qt::QueuedConnection);
        std::vector<qint16> received;
        std::set<int> sizes;
        // As the audio worker does: on each notification, read the latest block.
        connect(&audio, &HSPortAudio::inDataReady, &receiver, [&] {
            const QByteArray& block = audio.latestCapturedData();
            sizes.insert(block.size());
            const auto* s = reinterpret_cast<const qint16*>(block.constData());
            received.insert(received.end(), s, s + block.size() / 2);
        });
        QVERIFY(audio.StartAudio());
        const int bufferFrames = int(captureBufferFrames(audio.frameSizeIn, audio.frameInMult));
        QTRY_VERIFY_WITH_TIMEOUT(received.size() >= size_t(12 * bufferFrames / 2), 10000);
        audio.StopAudio();
        // The callback has ended; the readings it posted are all delivered before comparing.
        QCoreApplication::sendPostedEvents(&receiver);

        // Every block carries half the captured samples, at the host's rate of 48000 Hz.
        QCOMPARE(sizes, std::set<int>{bufferFrames});
        const std::vector<qint16> steady(received.end() - 8 * bufferFrames / 2, received.end());
        const double at1k = farend::toneAmplitude(steady, 1000.0, kRate / 2);
        // A loaded machine can drop a server cycle now and then, which thins the tone a little.
        QVERIFY2(at1k > 11000 && at1k < 18000, qPrintable(QString::number(at1k)));
        QVERIFY(farend::toneAmplitude(steady, 500.0, kRate / 2) < 800);
        QVERIFY(farend::toneAmplitude(steady, 2000.0, kRate / 2) < 800);
        // A sine of 16384 reads -9 dB once the smoothing has settled.
        QVERIFY(levels.count() >= 12);
        const float last = levels.last();
        QVERIFY2(std::fabs(last + 9.03f) < 0.5f, qPrintable(QString::number(last)));
        QCOMPARE(audio.vuMeterIn->value, last);
    }

    void failuresLeaveNothingOpen_data() {
        QTest::addColumn<QStringList>("devices"); // cable, speaker, capture
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("log");
        const QStringList good{kCableOut, kSpeaker, kCableIn};
        const auto with = [&good](int which, const QString& device) {
            QStringList devices = good;
            devices[which] = device;
            return devices;
        };
        QTest::newRow("no cable device") << with(0, "") << "" << 0 << "";
        QTest::newRow("no speaker device") << with(1, "") << "" << 0 << "";
        QTest::newRow("no capture device") << with(2, "") << "" << 0 << "";
        QTest::newRow("cable device cannot play")
            << with(0, kCableIn) << "" << 0 << "Error opening AUDIO output";
        QTest::newRow("speaker device cannot play")
            << with(1, kSpeakerMonitor) << "" << 0 << "Error opening AUDIO SPK output";
        QTest::newRow("capture device cannot capture")
            << with(2, kCableOut) << "" << 0 << "Error opening AUDIO input";
        const QString refused = "Audio configuration refused: ";
        QTest::newRow("rate 0") << good << "sampleRate" << 0 << refused + "sampleRate 0";
        QTest::newRow("negative frame size out")
            << good << "frameSizeOut" << -2 << refused + "frameSizeOut -2";
        QTest::newRow("frame size in 0") << good << "frameSizeIn" << 0 << refused + "frameSizeIn 0";
        QTest::newRow("capture multiplier 0")
            << good << "frameInMult" << 0 << refused + "frameInMult 0";
        QTest::newRow("playback multiplier -1")
            << good << "frameOutMult" << -1 << refused + "frameOutMult -1";
        QTest::newRow("capture buffer over 65536 frames")
            << good << "frameInMult" << 33 << refused + "capture buffer frames 67584";
        QTest::newRow("frame size over 65536 frames")
            << good << "frameSizeOut" << 70000 << refused + "frameSizeOut 70000";
    }
    void failuresLeaveNothingOpen() {
        QFETCH(QStringList, devices);
        QFETCH(QString, setting);
        QFETCH(int, value);
        QFETCH(QString, log);
        HSPortAudio audio(nullptr);
        prepare(audio);
        // Capture and playback devices are looked up in both lists, so a device can be asked
        // for the direction it does not have.
        const auto index = [&](const QString& name) {
            return audio.outputDevices.value(name, audio.inputDevices.value(name, -1));
        };
        audio.outputDeviceIndex = index(devices[0]);
        audio.speakerDeviceIndex = index(devices[1]);
        audio.inputDeviceIndex = index(devices[2]);
        const QHash<QString, int HSPortAudio::*> settings{
            {"sampleRate", &HSPortAudio::sampleRate},
            {"frameSizeOut", &HSPortAudio::frameSizeOut},
            {"frameSizeIn", &HSPortAudio::frameSizeIn},
            {"frameInMult", &HSPortAudio::frameInMult},
            {"frameOutMult", &HSPortAudio::frameOutMult}};
        if (!setting.isEmpty())
            audio.*settings.value(setting) = value;
        {
            LogCapture capture;
            QVERIFY(!audio.StartAudio());
            QCOMPARE(capture.bodies(),
                     log.isEmpty() ? QStringList() : QStringList{"Error: PortAudio: " + log});
        }
        QVERIFY(!audio.outputStream && !audio.speakerStream && !audio.inputStream);
        QCOMPARE(farend::jackPortsOfThisProcess(), 0);
        // The object stays usable: a good configuration starts afterwards.
        prepare(audio);
        QVERIFY(audio.StartAudio());
        audio.StopAudio();
    }

private:
    // The connection flow's settings for a host at 48000 Hz with frames of 1024.
    static void prepare(HSPortAudio& audio) {
        audio.EnumerateAudioDevices();
        QVERIFY(audio.findOutputDevice(kCableOut) >= 0);
        QVERIFY(audio.findSpeakerDevice(kSpeaker) >= 0);
        QVERIFY(audio.findInputDevice(kCableIn) >= 0);
        audio.sampleRate = kRate;
        audio.frameSizeOut = 2048;
        audio.frameSizeIn = 2048;
        audio.frameOutMult = 2;
        audio.frameInMult = 1;
    }
};

QTEST_GUILESS_MAIN(TestHSPortAudio)
#include "tst_hsportaudio.moc"
