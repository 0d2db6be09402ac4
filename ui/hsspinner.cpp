// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsspinner.h"

#include <QPainter>
#include <QTimer>
#include <QtMath>
#include <cmath>

namespace {
constexpr int sizeMargin = 14;
constexpr int fullTurn = 360;
constexpr double outlineReach = 2.0; // the one-pixel pen, antialiased
} // namespace

HSSpinner::HSSpinner(QWidget* parent)
    : QWidget(parent)
    , animationTimer(new QTimer(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(2 * radius + sizeMargin, 2 * radius + sizeMargin);
    connect(animationTimer, &QTimer::timeout, this, &HSSpinner::rotate);
    if (QWidget* p = parentWidget())
        move(x() + (p->width() - width()) / 2, y() + (p->height() - height()) / 2);
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    // Hidden until start(), even when the parent is shown after the spinner was made.
    hide();
}

void HSSpinner::start() {
    show();
    if (QWidget* p = parentWidget())
        p->setEnabled(false);
    animationTimer->start(stepMs);
}

void HSSpinner::stop() {
    hide();
    if (QWidget* p = parentWidget())
        p->setEnabled(true);
    animationTimer->stop();
}

void HSSpinner::rotate() {
    // Only the dot that turns grey and the one that turns red change.
    update(dotBounds(static_cast<int>(angle) / stepDegrees));
    angle = static_cast<float>((static_cast<int>(angle) + stepDegrees) % fullTurn);
    update(dotBounds(static_cast<int>(angle) / stepDegrees));
}

QRect HSSpinner::dotBounds(int step) const {
    const double turn = qDegreesToRadians(static_cast<double>(step * stepDegrees));
    const QPointF centre =
        QPointF(width() / 2, height() / 2) + QPointF(std::cos(turn), std::sin(turn)) * radius;
    const double reach = dotSize / 2.0 + outlineReach;
    return QRectF(centre - QPointF(reach, reach), centre + QPointF(reach, reach)).toAlignedRect();
}

void HSSpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2, height() / 2);
    const int half = dotSize / 2;
    for (int k = 0; k < dotCount; ++k) {
        const bool current = static_cast<float>(k) == angle / stepDegrees;
        painter.setBrush(current ? Qt::red : Qt::gray);
        painter.drawEllipse(radius - half, -half, dotSize, dotSize);
        painter.rotate(stepDegrees);
    }
}
