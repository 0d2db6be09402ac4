// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Letterboxing of a fixed-shape drawing space onto a widget: the largest rectangle of the given
// shape (height over width) that fits the widget, centred, in device pixels with y counted from the
// bottom as OpenGL expects.
struct GLViewport {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    friend bool operator==(const GLViewport& a, const GLViewport& b) {
        return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
    }
};

// w and h are in widget pixels, dpr is the device pixel ratio. Every conversion to an integer
// truncates, so a 1000 x 100 widget at 1/7 gets a width of 699 (100 / 0.142857f is just below 700).
GLViewport computeViewport(int w, int h, double dpr, float aspectRatio);
