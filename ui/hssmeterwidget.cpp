// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssmeterwidget.h"

#include "hstexturedquadrenderer.h"
#include "log.h"

#include <QImage>
#include <QOpenGLTexture>
#include <QPainter>
#include <QPen>
#include <QTimer>
#include <chrono>
#include <cmath>

namespace {
constexpr int labelPixelSize = 20;
constexpr int labelWeight = 50;
constexpr int dialPenWidth = 2;
constexpr float thinTickOffset = 1.0f;
const QColor defaultScaleColor(255, 165, 0);

QVector3D toGl(const MeterRgb& c) {
    return QVector3D(c.r / 255.0f, c.g / 255.0f, c.b / 255.0f);
}
} // namespace

HSSMeterWidget::HSSMeterWidget(QWidget* parent, const QString& label)
    : HSOGLWidget(parent)
    , label(label)
    , scaleColor(defaultScaleColor)
    , meterLevel(MeterScale::defaultMinDb, MeterScale::defaultMaxDb)
    , frameTimer(new QTimer(this)) {
    frameTimer->setSingleShot(true);
    frameTimer->setTimerType(Qt::PreciseTimer);
    connect(frameTimer, &QTimer::timeout, this, QOverload<>::of(&QWidget::update));
    labelFont.setFamily(QStringLiteral("Tahoma, Regular"));
    labelFont.setPixelSize(labelPixelSize);
    labelFont.setWeight(labelWeight);

    logicalWidth = fixedWidth;
    logicalHeight = fixedHeight;
    setFixedSize(fixedWidth, fixedHeight);
    peakTimer.start();
}

// Programs, buffers and the texture belong to the shared context: they go while it is current.
HSSMeterWidget::~HSSMeterWidget() {
    if (makeCurrent()) {
        dialTexture.reset();
        textureRenderer.reset();
        lineRenderer.reset();
        doneCurrent();
    }
}

void HSSMeterWidget::setDBm(float value) {
    if (std::isnan(value))
        HSLOG(LogLevel::Debug, "MainWindow")
            << "meter " << label << ": reading is not a number, shown as silence";
    meterLevel.setDb(value, peakTimer.elapsed());
    repaintIfChanged();
}

quint64 HSSMeterWidget::litBars() const {
    MeterBarWalk walk(meterLevel.value(), meterLevel.peak());
    const int first = static_cast<int>(meterLevel.minDb());
    const int last = static_cast<int>(std::floor(meterLevel.maxDb()));
    quint64 lit = 0;
    for (int d = first; d <= last; ++d) {
        if (walk.next(d) != MeterBarLight::Dark)
            lit |= quint64(1) << (d - first);
    }
    return lit;
}

void HSSMeterWidget::repaintIfChanged() {
    if (!painted || litBars() != paintedBars)
        requestRepaint();
}

void HSSMeterWidget::requestRepaint() {
    if (frameTimer->isActive())
        return;
    // Every meter repaints on the same frame boundaries of the monotonic clock, so the readings of
    // all meters in one frame period cost one composition of the window.
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    frameTimer->start(static_cast<int>(frameIntervalMs - now % frameIntervalMs));
}

void HSSMeterWidget::resetPeak() {
    meterLevel.resetPeak();
    repaintIfChanged();
}

void HSSMeterWidget::updateValues() {
    meterLevel.toBottom(peakTimer.elapsed());
    repaintIfChanged();
}

void HSSMeterWidget::initializeGL() {
    HSOGLWidget::initializeGL();
    lineRenderer = std::make_unique<HSLineRenderer>();
    textureRenderer = std::make_unique<HSTexturedQuadRenderer>();
}

void HSSMeterWidget::resizeGL(int w, int h) {
    HSOGLWidget::resizeGL(w, h);
    lineRenderer->setProjection(mvpMatrix);
    textureRenderer->setProjection(mvpMatrix);
    scale.layout(w, h);
    buildDialTexture(w, h);
}

void HSSMeterWidget::buildDialTexture(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);

    QPen pen(QBrush(scaleColor), dialPenWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    painter.setPen(pen);
    painter.drawLine(static_cast<int>(scale.scaleXMin), scale.baselineY,
                     static_cast<int>(scale.scaleXMax), scale.baselineY);

    for (const MeterTick& tick : scale.ticks) {
        const float o = tick.thick ? scale.barWidth * 0.5f : thinTickOffset;
        pen.setWidthF(tick.thick ? scale.barWidth : dialPenWidth);
        painter.setPen(pen);
        const int x = static_cast<int>(tick.x);
        painter.drawLine(x, static_cast<int>(scale.baselineY + o), x,
                         static_cast<int>(scale.tickY2 + o));
    }

    painter.setPen(scaleColor);
    painter.setFont(labelFont);
    const QFontMetrics metrics(labelFont);
    for (const MeterDialText& text : scale.dialTexts(label)) {
        const QRect box = metrics.boundingRect(text.text);
        const int x =
            static_cast<int>(static_cast<int>(scale.ticks[text.tick].x) - box.width() * 0.5f);
        const int y = scale.labelY - box.height();
        painter.drawText(x, y, text.text);
    }
    painter.end();

    dialTexture.reset();
    dialTexture = std::make_unique<QOpenGLTexture>(image, QOpenGLTexture::DontGenerateMipMaps);
    dialTexture->setMinificationFilter(QOpenGLTexture::Linear);
    dialTexture->setMagnificationFilter(QOpenGLTexture::Linear);
    dialTexture->setWrapMode(QOpenGLTexture::ClampToEdge);
}

void HSSMeterWidget::paintGL() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // Takes effect from the next frame on.
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glDisable(GL_DEPTH_TEST);
    glViewport(viewport.x, viewport.y, viewport.width, viewport.height);

    if (dialTexture) {
        textureRenderer->drawTexture(QVector2D(logicalWidth / 2, logicalHeight / 2),
                                     QVector2D(logicalWidth, logicalHeight), dialTexture.get());
    }

    MeterBarWalk walk(meterLevel.value(), meterLevel.peak());
    const int last = static_cast<int>(std::floor(meterLevel.maxDb()));
    bars.clear();
    for (int d = static_cast<int>(meterLevel.minDb()); d <= last; ++d) {
        const float x = scale.xOf(static_cast<float>(d));
        bars.append({QVector2D(x, scale.barY1), QVector2D(x, scale.barY2),
                     toGl(meterBarColor(d, walk.next(d))), scale.barWidth});
    }
    lineRenderer->drawLines(bars);
    paintedBars = litBars();
    painted = true;
}
