// SPDX-License-Identifier: GPL-3.0-or-later

#include "meterscale.h"

#include <QtGlobal>
#include <array>
#include <cmath>
#include <utility>

namespace {
constexpr int tickStepDb = 5;
constexpr int firstRunLastDb = -30;
constexpr int secondRunFirstDb = -25;
// Ticks 5, 7 and 9 (-25, -15, -5) stay without a number so the texts do not crowd.
constexpr std::array<int, 7> numberedTicks{1, 2, 3, 4, 6, 8, 10};
} // namespace

void MeterScale::layout(int w, int h) {
    const int halfH = h / 2;
    const auto fw = static_cast<float>(w);
    const auto fh = static_cast<float>(h);
    dbRange = std::fabs(maxDb - minDb);
    scaleX0 = fw * marginFraction;
    scaleWidth = (1.0f - 2.0f * marginFraction) * fw;
    barY1 = static_cast<int>(std::floor(halfH + barWidth));
    barY2 = static_cast<int>(std::floor(0.33f * fh + halfH + barWidth));
    baselineY = static_cast<int>(std::floor(barWidth * 0.5f + halfH));
    tickY2 = static_cast<int>(std::floor(0.08f * fh + halfH));
    labelY = static_cast<int>(std::floor(0.7f * fh + halfH));
    scaleXMin = xOf(minDb);
    scaleXMax = xOf(maxDb);

    ticks.clear();
    if (tickFirstDb < firstRunLastDb + 1) {
        for (int d = tickFirstDb; d <= firstRunLastDb; d += tickStepDb)
            ticks.append({d, xOf(static_cast<float>(d)), d == tickFirstDb});
    }
    if (tickLastDb >= secondRunFirstDb) {
        for (int d = secondRunFirstDb; d <= tickLastDb; d += tickStepDb)
            ticks.append({d, xOf(static_cast<float>(d)), d == tickLastDb});
    }
}

QVector<MeterDialText> MeterScale::dialTexts(const QString& label) const {
    QVector<MeterDialText> texts;
    if (ticks.isEmpty())
        return texts;
    texts.append({0, label});
    for (int k : numberedTicks) {
        if (k < ticks.size())
            texts.append({k, QString::number(ticks[k].db)});
    }
    return texts;
}

MeterBarLight MeterBarWalk::next(int db) {
    const auto d = static_cast<float>(db);
    if (d <= value)
        return MeterBarLight::Lit;
    if (!peakShown && peak > d && d + 2.0f >= peak) {
        peakShown = true;
        return MeterBarLight::Peak;
    }
    return MeterBarLight::Dark;
}

MeterRgb meterBarColor(int db, MeterBarLight light) {
    if (light == MeterBarLight::Dark)
        return meterDarkColor;
    if (db < meterMidZoneDb)
        return meterLowColor;
    if (db < meterHighZoneDb)
        return meterMidColor;
    return meterHighColor;
}

namespace {
// The first and one past the last pixel whose centre lies in [from, to).
std::pair<int, int> pixelsCentredIn(double from, double to) {
    return {static_cast<int>(std::ceil(from - 0.5)), static_cast<int>(std::ceil(to - 0.5))};
}
} // namespace

QRect meterBarPixels(const MeterScale& scale, int db, QSize logical, const QRect& area) {
    const double sx = static_cast<double>(area.width()) / logical.width();
    const double sy = static_cast<double>(area.height()) / logical.height();
    const double x = scale.xOf(static_cast<float>(db));
    const double half = scale.barWidth * 0.5;
    const auto [left, right] =
        pixelsCentredIn(area.x() + (x - half) * sx, area.x() + (x + half) * sx);
    const double bottom = area.y() + area.height();
    const auto [top, end] = pixelsCentredIn(bottom - scale.barY2 * sy, bottom - scale.barY1 * sy);
    return {QPoint(left, top), QPoint(right - 1, end - 1)};
}
