// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>

// The square both renderers draw: centred on the origin, side 1, corners in triangle-strip order,
// two floats per vertex.
inline constexpr int unitSquareVertices = 4;
inline constexpr int unitSquareComponents = 2;
inline constexpr std::array<float, 8> unitSquareCorners{-0.5f, -0.5f, 0.5f, -0.5f,
                                                        -0.5f, 0.5f,  0.5f, 0.5f};
// Texture coordinates of the same corners: the image's first row lies at the top of the square.
inline constexpr std::array<float, 8> unitSquareTexCoords{0.0f, 1.0f, 1.0f, 1.0f,
                                                          0.0f, 0.0f, 1.0f, 0.0f};
