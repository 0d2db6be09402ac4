// SPDX-License-Identifier: GPL-3.0-or-later
// A capture block of any frame count the callback takes (up to 65,536): the 2:1 reduction the
// worker takes over, and the level.
#include "fuzzsoundcard.h"
#include "hsvumeter.h"

#include <QVector>

#include <cmath>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto* card = new FuzzSoundCard;
    const int count = int(std::min<size_t>(size / 2, 65536));
    QVector<qint16> samples(count);
    std::memcpy(samples.data(), data, size_t(count) * 2);
    card->deliverCapture(samples.constData(), count, 0.0f);
    card->latestCapturedData();
    // Which samples the reduction keeps is the unit tests' business, reads and writes past the
    // ends the sanitizers'; no samples make the level NaN.
    if (std::isnan(card->captureMeter()->value.load()))
        std::abort();
    return 0;
}
