// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The receiver the operator listens to on the speaker; the virtual cable always gets both.
enum class ReceiverMode : int {
    Both = 0, // "RX1+RX2": left and right as received
    RX1 = 1,  // the right (second) sample on both channels
    RX2 = 2,  // the left (first) sample on both channels
};
