// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The smoothed levels of the received left and right channels and of the captured audio, in dB.
struct AudioLevels {
    float left;
    float right;
    float capture;
};
