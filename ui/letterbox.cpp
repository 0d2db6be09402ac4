// SPDX-License-Identifier: GPL-3.0-or-later

#include "letterbox.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
constexpr int weightOne = 256;

// Where each target pixel's centre falls among the source pixels: the nearer one on the low side,
// the next (clamped to the edge) and the weight of the next.
struct Tap {
    int low;
    int high;
    int weight;
};

std::vector<Tap> taps(int sourceLength, int targetLength) {
    std::vector<Tap> result(static_cast<size_t>(targetLength));
    for (int i = 0; i < targetLength; ++i) {
        const double at = (i + 0.5) * sourceLength / targetLength - 0.5;
        const double low = std::floor(at);
        const int first = static_cast<int>(low);
        result[static_cast<size_t>(i)] = {std::clamp(first, 0, sourceLength - 1),
                                          std::clamp(first + 1, 0, sourceLength - 1),
                                          static_cast<int>(std::lround((at - low) * weightOne))};
    }
    return result;
}

QRgb blend(QRgb a, QRgb b, int weight) {
    QRgb out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int u = static_cast<int>((a >> shift) & 0xff);
        const int v = static_cast<int>((b >> shift) & 0xff);
        out |= static_cast<QRgb>((u * (weightOne - weight) + v * weight + weightOne / 2) >> 8)
               << shift;
    }
    return out;
}
} // namespace

QRect letterbox(QSize area, float aspectRatio) {
    const int pw = area.width();
    const int ph = area.height();
    if (pw <= 0 || ph <= 0)
        return {};
    if (static_cast<float>(ph) / static_cast<float>(pw) > aspectRatio) {
        const int height = static_cast<int>(aspectRatio * static_cast<float>(pw));
        const int fromBottom = static_cast<int>(static_cast<float>(ph - height) * 0.5f);
        return {0, ph - fromBottom - height, pw, height};
    }
    const int width = static_cast<int>(static_cast<float>(ph) / aspectRatio);
    return {static_cast<int>(static_cast<float>(pw - width) * 0.5f), 0, width, ph};
}

QImage stretchImage(const QImage& source, QSize size) {
    const QImage from = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (from.size() == size || from.isNull() || size.isEmpty())
        return size.isEmpty() ? QImage() : from;
    const std::vector<Tap> columns = taps(from.width(), size.width());
    const std::vector<Tap> rows = taps(from.height(), size.height());
    QImage to(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size.height(); ++y) {
        const Tap& row = rows[static_cast<size_t>(y)];
        const auto* low = reinterpret_cast<const QRgb*>(from.constScanLine(row.low));
        const auto* high = reinterpret_cast<const QRgb*>(from.constScanLine(row.high));
        auto* out = reinterpret_cast<QRgb*>(to.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const Tap& c = columns[static_cast<size_t>(x)];
            out[x] = blend(blend(low[c.low], low[c.high], c.weight),
                           blend(high[c.low], high[c.high], c.weight), row.weight);
        }
    }
    return to;
}
