// SPDX-License-Identifier: GPL-3.0-or-later

#include "capturehandover.h"

CaptureHandOver::CaptureHandOver() = default;

void CaptureHandOver::prepare(int bytes) {
    for (QByteArray& buffer : buffers) {
        buffer.clear();
        buffer.reserve(bytes);
    }
    producer = 0;
    consumer = 1;
    spare.store(2);
}

void CaptureHandOver::publish() {
    producer = spare.exchange(producer | kFresh, std::memory_order_acq_rel) & kIndexMask;
}

bool CaptureHandOver::take(QByteArray& view) {
    if (!(spare.load(std::memory_order_acquire) & kFresh))
        return false;
    view = QByteArray();
    consumer = spare.exchange(consumer, std::memory_order_acq_rel) & kIndexMask;
    view = buffers[consumer];
    return true;
}
