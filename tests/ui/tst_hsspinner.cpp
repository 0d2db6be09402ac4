#include "hsspinner.h"

#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <cmath>

namespace {
const QColor dotGrey(Qt::gray);
const QColor dotRed(Qt::red);

// The four pixels around the centre of dot k (0 at three o'clock, clockwise) of a grabbed spinner.
QList<QColor> dotCentre(const QImage& image, int k) {
    const double a = qDegreesToRadians(30.0 * k);
    const QPointF c(27.0 + 20.0 * std::cos(a), 27.0 + 20.0 * std::sin(a));
    const int x = static_cast<int>(std::round(c.x()));
    const int y = static_cast<int>(std::round(c.y()));
    return {image.pixelColor(x - 1, y - 1), image.pixelColor(x, y - 1), image.pixelColor(x - 1, y),
            image.pixelColor(x, y)};
}

// The index of the red dot; fails when the ring is not eleven grey dots and one red.
int redDot(HSSpinner& spinner) {
    const QImage image = spinner.grab().toImage();
    int red = -1;
    for (int k = 0; k < 12; ++k) {
        for (const QColor& c : dotCentre(image, k)) {
            if (c == dotRed) {
                if (red >= 0 && red != k)
                    return -2;
                red = k;
            } else if (c != dotGrey) {
                return -3;
            }
        }
    }
    return red;
}
} // namespace

class TestHSSpinner : public QObject {
    Q_OBJECT

private slots:
    void centredOnItsParent_data() {
        QTest::addColumn<QSize>("parentSize");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("even") << QSize(200, 100) << QPoint(73, 23);
        QTest::newRow("odd") << QSize(201, 101) << QPoint(73, 23);
        QTest::newRow("same size") << QSize(54, 54) << QPoint(0, 0);
        QTest::newRow("smaller parent") << QSize(40, 45) << QPoint(-7, -4);
    }

    void centredOnItsParent() {
        QFETCH(QSize, parentSize);
        QFETCH(QPoint, position);
        QWidget parent;
        parent.resize(parentSize);
        auto* spinner = new HSSpinner(&parent);
        QCOMPARE(spinner->pos(), position);
        QCOMPARE(spinner->size(), QSize(54, 54));
        QCOMPARE(spinner->minimumSize(), spinner->maximumSize());
        QVERIFY(spinner->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!spinner->isWindow());
    }

    void runsClockwiseWhileParentIsDisabled() {
        QWidget parent;
        parent.resize(300, 200);
        auto* button = new QPushButton(QStringLiteral("Connect"), &parent);
        auto* spinner = new HSSpinner(&parent);
        auto* timer = spinner->findChild<QTimer*>();
        QVERIFY(timer);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        QVERIFY(!spinner->isVisible());
        QVERIFY(!timer->isActive());

        spinner->start();
        QVERIFY(spinner->isVisible());
        QVERIFY(!parent.isEnabled());
        QVERIFY(!button->isEnabled());
        QVERIFY(!spinner->isEnabled());
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 50);
        QCOMPARE(redDot(*spinner), 0); // three o'clock

        timer->stop(); // step by hand from here on
        for (int step = 1; step <= 12; ++step) {
            QVERIFY(QMetaObject::invokeMethod(spinner, "rotate"));
            QCOMPARE(redDot(*spinner), step % 12);
        }

        // Disabled, it keeps turning on its own timer.
        timer->start();
        QTRY_VERIFY_WITH_TIMEOUT(redDot(*spinner) > 0, 1000);

        spinner->stop();
        QVERIFY(!spinner->isVisible());
        QVERIFY(!timer->isActive());
        QVERIFY(parent.isEnabled() && button->isEnabled() && spinner->isEnabled());

        QPointer<HSSpinner> closed = spinner;
        spinner->close();
        QTRY_VERIFY(closed.isNull());
    }
};

QTEST_MAIN(TestHSSpinner)
#include "tst_hsspinner.moc"
