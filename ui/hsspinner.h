// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QWidget>

class QTimer;

// The busy indicator shown over the main window while a connection is being made: a ring of
// twelve grey dots in which one red dot steps clockwise. Its parent is disabled while it runs.
class HSSpinner : public QWidget {
    Q_OBJECT

public:
    static constexpr int dotCount = 12;
    static constexpr int stepDegrees = 30;
    static constexpr int dotSize = 6;
    static constexpr int stepMs = 50;

    explicit HSSpinner(QWidget* parent);

public slots:
    void start();
    void stop();

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void rotate();

private:
    // The square the dot at `step` and its antialiased outline may touch.
    QRect dotBounds(int step) const;

    QTimer* animationTimer;
    int radius = 20;
    float angle = 0.0f; // of the red dot, a multiple of stepDegrees
};
