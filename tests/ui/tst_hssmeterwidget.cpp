#include "hssmeterwidget.h"
#include "oglviewport.h"

#include <QElapsedTimer>
#include <QOpenGLContext>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <memory>

namespace {
constexpr float logicalW = 500.0f;
constexpr float logicalH = 80.0f;
constexpr float meterShape = 1.0f / 7.0f;
constexpr float barMiddleY = (46.0f + 72.0f) / 2.0f;
const QColor dark(30, 30, 30);
const QColor blue(44, 173, 246);
const QColor green(88, 223, 15);
const QColor red(249, 55, 28);
const QColor scaleColour(255, 165, 0);

float barX(int db) {
    return 20.0f + (db + 50) * 9.2f;
}

QColor zoneColour(int db) {
    return db < -12 ? blue : db < -3 ? green : red;
}

bool near(const QColor& a, const QColor& b, int tolerance = 2) {
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

QString describe(const QColor& c) {
    return QString("(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

// A frame read back from the meter's framebuffer, addressed in the meter's logical units.
class Frame {
public:
    explicit Frame(HSSMeterWidget& meter)
        : image(meter.grabFramebuffer().convertToFormat(QImage::Format_RGB32))
        , vp(computeViewport(meter.width(), meter.height(), meter.devicePixelRatioF(),
                             meterShape)) {}

    // The image pixel whose centre the logical point falls in (y up in logical units).
    QPoint pixelOf(float lx, float ly) const {
        const float px = vp.x + lx * vp.width / logicalW;
        const float fromBottom = vp.y + ly * vp.height / logicalH;
        return QPoint(static_cast<int>(std::floor(px)),
                      image.height() - 1 - static_cast<int>(std::floor(fromBottom)));
    }

    // The image row that shows the middle of a row of the dial image (counted from its top).
    int rowOfDialRow(int dialRow) const { return pixelOf(0.0f, logicalH - dialRow - 0.5f).y(); }

    QColor at(float lx, float ly) const { return image.pixelColor(pixelOf(lx, ly)); }
    QColor atPixel(int x, int y) const { return image.pixelColor(x, y); }
    QColor bar(int db) const { return at(barX(db), barMiddleY); }

    QImage image;
    GLViewport vp;
};
} // namespace

class TestHSSMeterWidget : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<HSSMeterWidget> meter;

private slots:
    void init() {
        meter = std::make_unique<HSSMeterWidget>(nullptr, QStringLiteral("L"));
        meter->show();
        QVERIFY(QTest::qWaitForWindowExposed(meter.get()));
    }

    void cleanup() { meter.reset(); }

    // The context outlives the meter's own part of the object; the undefined-behaviour stage
    // (a vptr check on every slot call) fails here if its destruction still calls the meter.
    void destroyingAShownMeterLeavesNothingConnected() {
        auto shown = std::make_unique<HSSMeterWidget>(nullptr, "L");
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown.get()));
        QTRY_VERIFY(shown->context() && shown->context()->isValid());
        QPointer<QOpenGLContext> context = shown->context();
        shown.reset();
        QVERIFY(context.isNull());
    }

    void barsFollowReadingAndPeak_data() {
        QTest::addColumn<QList<float>>("readings");
        QTest::addColumn<bool>("resetPeak");
        QTest::addColumn<int>("lastLit");
        QTest::addColumn<int>("marker"); // 1: no marker

        QTest::newRow("above the top lights all") << QList<float>{3.0f} << false << 0 << 1;
        QTest::newRow("below the bottom lights the bottom bar")
            << QList<float>{-80.0f} << false << -50 << 1;
        QTest::newRow("held peak marks -12") << QList<float>{-10.0f, -40.0f} << false << -40 << -12;
        QTest::newRow("peak in the red zone") << QList<float>{-1.0f, -8.0f} << false << -8 << -3;
        QTest::newRow("reset leaves no marker") << QList<float>{-5.0f, -20.0f} << true << -20 << 1;
        // Where the marker sits relative to a held peak and the reading below it.
        QTest::newRow("peak between dBs") << QList<float>{-20.4f, -30.0f} << false << -30 << -22;
        QTest::newRow("peak just above the reading")
            << QList<float>{-29.5f, -30.0f} << false << -30 << 1;
        QTest::newRow("peak two above the reading")
            << QList<float>{-28.0f, -30.0f} << false << -30 << -29;
        QTest::newRow("peak three above the reading")
            << QList<float>{-27.0f, -30.0f} << false << -30 << -29;
        QTest::newRow("fractional reading") << QList<float>{-10.0f, -30.5f} << false << -31 << -12;
    }

    void barsFollowReadingAndPeak() {
        QFETCH(QList<float>, readings);
        QFETCH(bool, resetPeak);
        QFETCH(int, lastLit);
        QFETCH(int, marker);

        for (float r : readings)
            meter->setDBm(r);
        if (resetPeak)
            meter->resetPeak();
        const Frame f(*meter);
        int lit = 0;
        for (int d = -50; d <= 0; ++d) {
            const QColor want = (d <= lastLit || d == marker) ? zoneColour(d) : dark;
            const QColor got = f.bar(d);
            QVERIFY2(near(got, want, 1),
                     qPrintable(
                         QString("bar %1: %2, want %3").arg(d).arg(describe(got), describe(want))));
            lit += got != dark ? 1 : 0;
        }
        QCOMPARE(lit, lastLit + 51 + (marker <= 0 ? 1 : 0));
    }

    void barIsARectangleOfBarWidth() {
        QCOMPARE(meter->size(), QSize(500, 80));
        QCOMPARE(meter->minimumSize(), meter->maximumSize());
        // The bottom bar is lit at rest: x 16.75 to 23.25, y 46 to 72 in logical units.
        const Frame f(*meter);
        QCOMPARE(f.image.size(), QSize(500, 80) * meter->devicePixelRatioF());
        QCOMPARE(f.pixelOf(16.75f, 72.0f).x(), 16);
        QCOMPARE(f.pixelOf(23.25f, 46.0f).x(), 23);
        const int midRow = f.pixelOf(20.0f, barMiddleY).y();
        QVERIFY(!near(f.atPixel(16, midRow), blue, 40));
        for (int x = 17; x <= 22; ++x)
            QVERIFY2(near(f.atPixel(x, midRow), blue, 1), qPrintable(QString("column %1").arg(x)));
        QVERIFY(!near(f.atPixel(23, midRow), blue, 40));

        int firstRow = -1, lastRow = -1;
        for (int y = 0; y < f.image.height(); ++y) {
            if (near(f.atPixel(20, y), blue, 1)) {
                lastRow = y;
                if (firstRow < 0)
                    firstRow = y;
            }
        }
        // Rows whose centres lie between y 46 and 72 once squeezed into the 71-pixel viewport.
        QCOMPARE(firstRow, 12);
        QCOMPARE(lastRow, 34);
        // Between two bars the dial's black shows through, also at full scale.
        meter->setDBm(3.0f);
        QVERIFY(near(Frame(*meter).at((barX(-30) + barX(-29)) / 2.0f, barMiddleY), Qt::black, 1));
    }

    void readingsArriveQueuedFromAnotherThread() {
        QThread* feeder = QThread::create([this] {
            QMetaObject::invokeMethod(meter.get(), "setDBm", Qt::QueuedConnection,
                                      Q_ARG(float, -20.0f));
        });
        feeder->start();
        QVERIFY(feeder->wait(5000));
        delete feeder;
        QTRY_VERIFY(near(Frame(*meter).bar(-20), blue, 1));
        QVERIFY(near(Frame(*meter).bar(-19), dark, 1));

        meter->updateValues();
        const Frame f(*meter);
        QVERIFY(near(f.bar(-50), blue, 1));
        for (int d = -49; d <= 0; ++d)
            QVERIFY2(near(f.bar(d), dark, 1), qPrintable(QString("bar %1").arg(d)));
    }

    void fastReadingsArePaintedPerFrame() {
        int frames = 0;
        connect(meter.get(), &QOpenGLWidget::frameSwapped, this, [&frames] { ++frames; });
        QTimer feed;
        int readings = 0;
        connect(&feed, &QTimer::timeout, this, [&] {
            meter->setDBm(-45.0f + readings);
            if (++readings == 40)
                feed.stop();
        });
        QElapsedTimer elapsed;
        elapsed.start();
        feed.start(4);
        QTRY_VERIFY(!feed.isActive());
        // The last reading shows within one frame period.
        QTRY_VERIFY_WITH_TIMEOUT(near(Frame(*meter).bar(-6), green, 1), 500);
        const qint64 ms = elapsed.elapsed();
        QVERIFY(near(Frame(*meter).bar(-5), dark, 1));
        QVERIFY(frames >= 1);
        QVERIFY2(frames <= ms / HSSMeterWidget::frameIntervalMs + 2,
                 qPrintable(QString("%1 frames for 40 readings in %2 ms").arg(frames).arg(ms)));
    }

    void dialTicksAndBaseline() {
        const Frame f(*meter);
        const int tickRow = f.rowOfDialRow(45);
        const int baselineRow = f.rowOfDialRow(43);
        for (int k = 0; k <= 10; ++k) {
            const int x = 20 + 46 * k;
            const bool thick = k == 0 || k == 10;
            // Thin ticks cover the two columns left and right of their x, thick ones three each
            // side.
            for (int c = x - (thick ? 3 : 1); c < x + (thick ? 3 : 1); ++c) {
                const QColor got = f.atPixel(c, tickRow);
                QVERIFY2(
                    near(got, scaleColour),
                    qPrintable(QString("tick %1 column %2: %3").arg(k).arg(c).arg(describe(got))));
            }
            const QColor outside = f.atPixel(x + (thick ? 5 : 3), tickRow);
            QVERIFY2(near(outside, Qt::black),
                     qPrintable(QString("beside tick %1: %2").arg(k).arg(describe(outside))));
            if (k < 10) {
                QVERIFY(near(f.atPixel(x + 23, baselineRow), scaleColour));
                QVERIFY(near(f.atPixel(x + 23, tickRow), Qt::black));
            }
        }
        // The baseline ends with the scale.
        QVERIFY(near(f.atPixel(10, baselineRow), Qt::black));
        QVERIFY(near(f.atPixel(490, baselineRow), Qt::black));
    }

    void dialTexts() {
        const Frame f(*meter);
        // The text band: below the thick ticks' square caps to the bottom of the viewport.
        const int firstRow = f.rowOfDialRow(54);
        const int lastRow = f.rowOfDialRow(79);
        for (int k = 0; k <= 10; ++k) {
            const int x = 20 + 46 * k;
            const bool numbered = k != 5 && k != 7 && k != 9;
            int inColour = 0, lit = 0;
            for (int y = firstRow; y <= lastRow; ++y) {
                for (int c = qMax(0, x - 10); c <= x + 10; ++c) {
                    const QColor p = f.atPixel(c, y);
                    if (p.red() < 24)
                        continue;
                    ++lit;
                    // Antialiased edges are the scale colour faded towards black, never another
                    // hue.
                    const double greenShare = double(p.green()) / p.red();
                    QVERIFY2(
                        qAbs(greenShare - 165.0 / 255.0) < 0.12 && p.blue() < 16,
                        qPrintable(QString("text pixel %1,%2: %3").arg(c).arg(y).arg(describe(p))));
                    inColour += near(p, scaleColour, 12) ? 1 : 0;
                }
            }
            if (numbered) {
                QVERIFY2(inColour >= 3, qPrintable(QString("text under tick %1").arg(k)));
            } else {
                QVERIFY2(lit == 0, qPrintable(QString("tick %1 carries no number").arg(k)));
            }
        }
    }
};

QTEST_MAIN(TestHSSMeterWidget)
#include "tst_hssmeterwidget.moc"
