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

void LatenessWindow::count(double latenessNs, bool sure) {
    if (!sure && unsure.size() < config.unsureDatagrams) {
        unsure.push_back({latenessNs, counts.openBlock()});
        return;
    }
    countUnsure();
    counts.add(latenessNs, counts.openBlock());
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
