#include "hsspinner.h"

#include <QtTest>

// The dot drawn in red, by its direction from the centre: 0 at three o'clock, counted clockwise
// in twelfths of a turn; -1 when no dot is red.
static int redDot(HSSpinner& spinner) {
    const QImage image = spinner.grab().toImage();
    QPolygonF red;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == QColor(Qt::red))
                red << QPointF(x, y);
    const QPointF c = red.boundingRect().center() - image.rect().center();
    return red.isEmpty() ? -1 : qRound(qRadiansToDegrees(std::atan2(c.y(), c.x())) / 30 + 12) % 12;
}

class TestHSSpinner : public QObject {
    Q_OBJECT

private slots:
    void redDotGoesRoundWhileTheParentIsDisabled() {
        QWidget parent;
        auto* spinner = new HSSpinner(&parent);
        auto* timer = spinner->findChild<QTimer*>();
        parent.show();
        spinner->start();
        QVERIFY(!parent.isEnabled() && !spinner->isEnabled() && spinner->isVisible());
        QVERIFY(timer->isActive() && timer->interval() == 50);
        QList<int> dots{redDot(*spinner)};
        for (int step = 0; step < 12; ++step) {
            QMetaObject::invokeMethod(timer, "timeout");
            dots << redDot(*spinner);
        }
        QCOMPARE(dots, QList<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0}));
        spinner->stop();
        QVERIFY(parent.isEnabled() && !spinner->isVisible() && !timer->isActive());
    }
};

QTEST_MAIN(TestHSSpinner)
#include "tst_hsspinner.moc"
