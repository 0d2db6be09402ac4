// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QImage>
#include <QRect>
#include <QSize>

// The largest rectangle of a fixed shape (height over width) that fits an area of the given size,
// centred, in the area's pixels counted from the top left. Every conversion to an integer
// truncates and the centring is counted from the bottom, so an odd spare row goes above the
// rectangle: 500 x 80 at 1/7 is 71 rows high from row 5. A 1000 x 100 area gets a width of 699
// (100 / 0.142857f is just below 700).
QRect letterbox(QSize area, float aspectRatio);

// The image stretched to the given size as a texture sampler filters it: every pixel the blend of
// the four source pixels nearest its centre, edges clamped, the weights rounded to 1/256. Same
// sizes give the image back unchanged.
QImage stretchImage(const QImage& source, QSize size);
