// The capture path for any frame count: the 2:1 reduction on raw samples and on byte arrays, and
// the capture callback that publishes the block to the worker.
#include "fuzzinput.h"
#include "hsportaudio.h"
#include "log.h"
#include "samplemath.h"

#include <QVector>

#include <cstdlib>
#include <cstring>

namespace {

// The callback takes no block longer than the largest buffer a stream is opened with.
constexpr int kLargestCallbackFrames = 65536;

HSPortAudio* portAudio = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    currentLogLevel = static_cast<int>(LogLevel::Emergency);
    portAudio = new HSPortAudio;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const QByteArray captured(input.rest(), input.restSize());
    const int frameCount = captured.size() / 2;
    QVector<qint16> samples(frameCount);
    if (frameCount > 0)
        std::memcpy(samples.data(), captured.constData(), size_t(frameCount) * 2);

    QByteArray out(reducedCaptureBytes(frameCount), '\0');
    if (reduceCapture(samples.constData(), frameCount, out.data()) != out.size())
        std::abort();
    if (reduceCapture(captured) != out)
        std::abort();

    const PaStreamCallbackTimeInfo timeInfo{};
    HSPortAudio::captureCallback(samples.constData(), nullptr,
                                 static_cast<unsigned long>(frameCount), &timeInfo, 0, portAudio);
    if (frameCount <= kLargestCallbackFrames && portAudio->latestCapturedData() != out)
        std::abort();
    return 0;
}
