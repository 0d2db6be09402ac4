// SPDX-License-Identifier: GPL-3.0-or-later

#include "latenesswindow.h"

#include <algorithm>

LatenessWindow::LatenessWindow()
    : LatenessWindow(Config{}) {}

LatenessWindow::LatenessWindow(const Config& config)
    : config(config)
    , counts(config.counts) {
    reset();
}

void LatenessWindow::reset() {
    counts.reset();
    unsure.clear();
    unsure.reserve(config.unsureDatagrams);
}

void LatenessWindow::countUnsure() {
    for (const Unsure& u : unsure)
        counts.add(u.latenessNs, u.block);
    unsure.clear();
}

void LatenessWindow::lossPlaced(double periodNs) {
    for (Unsure& u : unsure)
        u.latenessNs -= periodNs;
}

// Those waiting from the block that leaves the window are never counted.
void LatenessWindow::closeBlock() {
    counts.closeBlock();
    unsure.erase(std::remove_if(unsure.begin(), unsure.end(),
                                [&](const Unsure& u) { return u.block == counts.openBlock(); }),
                 unsure.end());
}
