// SPDX-License-Identifier: GPL-3.0-or-later

#include "hssmeterwidget.h"

#include "letterbox.h"
#include "log.h"

#include <QAccessibleWidget>
#include <QPaintEvent>
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
constexpr int barCount = 51;

QColor toQColor(const MeterRgb& c) {
    return QColor(c.r, c.g, c.b);
}

// What a screen reader sees of a meter: a read-only gauge whose value is the level in whole dBFS.
class AccessibleMeter : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit AccessibleMeter(HSSMeterWidget* meter)
        : QAccessibleWidget(meter, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return QString("%1 dBFS").arg(currentValue().toInt());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override {
        return qRound(static_cast<HSSMeterWidget*>(widget())->level());
    }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return int(MeterScale::defaultMaxDb); }
    QVariant minimumValue() const override { return int(MeterScale::defaultMinDb); }
    QVariant minimumStepSize() const override { return 1; }
};

QAccessibleInterface* accessibleMeter(const QString& className, QObject* object) {
    if (className == QLatin1String("HSSMeterWidget") && object && object->isWidgetType())
        return new AccessibleMeter(static_cast<HSSMeterWidget*>(object));
    return nullptr;
}
} // namespace

HSSMeterWidget::HSSMeterWidget(QWidget* parent, const QString& label)
    : QWidget(parent)
    , label(label)
    , scaleColor(defaultScaleColor)
    , meterLevel(MeterScale::defaultMinDb, MeterScale::defaultMaxDb)
    , frameTimer(new QTimer(this)) {
    // Every paint covers its whole region.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    frameTimer->setObjectName(QStringLiteral("frameTimer"));
    frameTimer->setSingleShot(true);
    frameTimer->setTimerType(Qt::PreciseTimer);
    connect(frameTimer, &QTimer::timeout, this, &HSSMeterWidget::showFrame);
    labelFont.setFamily(QStringLiteral("Tahoma, Regular"));
    labelFont.setPixelSize(labelPixelSize);
    labelFont.setWeight(labelWeight);
    setFixedSize(fixedWidth, fixedHeight);
    shownBars = litBars();
    peakTimer.start();
    // Reached by Tab, so that a screen reader announces the level; a click does not take focus.
    setFocusPolicy(Qt::TabFocus);
    static const bool accessible = (QAccessible::installFactory(accessibleMeter), true);
    Q_UNUSED(accessible)
}

void HSSMeterWidget::setDBm(float value) {
    if (std::isnan(value))
        HSLOG(LogLevel::Debug, "MainWindow")
            << "meter " << label << ": reading is not a number, shown as silence";
    meterLevel.setDb(value, peakTimer.elapsed());
    repaintIfChanged();
}

void HSSMeterWidget::resetPeak() {
    meterLevel.resetPeak();
    repaintIfChanged();
}

void HSSMeterWidget::updateValues() {
    meterLevel.toBottom(peakTimer.elapsed());
    repaintIfChanged();
}

quint64 HSSMeterWidget::litBars() const {
    MeterBarWalk walk(meterLevel.value(), meterLevel.peak());
    const int first = static_cast<int>(meterLevel.minDb());
    quint64 lit = 0;
    for (int bar = 0; bar < barCount; ++bar) {
        if (walk.next(first + bar) != MeterBarLight::Dark)
            lit |= quint64(1) << bar;
    }
    return lit;
}

void HSSMeterWidget::repaintIfChanged() {
    if (litBars() == shownBars || frameTimer->isActive())
        return;
    // Every meter repaints on the same frame boundaries of the monotonic clock, so the readings of
    // all meters in one frame period cost one composition of the window.
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    frameTimer->start(static_cast<int>(frameIntervalMs - now % frameIntervalMs));
}

void HSSMeterWidget::showFrame() {
    const quint64 lit = litBars();
    const quint64 changed = lit ^ shownBars;
    shownBars = lit;
    if (changed == 0)
        return;
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, qRound(level()));
        QAccessible::updateAccessibility(&event);
    }
    layoutFor(size() * devicePixelRatioF());
    QRect region;
    for (int bar = 0; bar < barCount; ++bar) {
        if (changed & (quint64(1) << bar))
            region |= barPixels[bar];
    }
    update(toWidget(region));
}

QRect HSSMeterWidget::toWidget(const QRect& devicePixels) const {
    const qreal ratio = devicePixelRatioF();
    return QRectF(devicePixels.topLeft() / ratio, devicePixels.size() / ratio).toAlignedRect();
}

void HSSMeterWidget::layoutFor(QSize devicePixels) {
    if (!background.isNull() && background.size() == devicePixels)
        return;
    const QRect area = letterbox(devicePixels, aspectRatio);
    scale.layout(width(), height());
    barPixels.clear();
    const int first = static_cast<int>(meterLevel.minDb());
    for (int bar = 0; bar < barCount; ++bar)
        barPixels << meterBarPixels(scale, first + bar, size(), area);

    QImage picture(devicePixels, QImage::Format_RGB32);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    painter.drawImage(area.topLeft(), stretchImage(dialImage(width(), height()), area.size()));
    for (const QRect& bar : qAsConst(barPixels))
        painter.fillRect(bar, toQColor(meterDarkColor));
    painter.end();
    background = QPixmap::fromImage(picture);
}

QImage HSSMeterWidget::dialImage(int w, int h) const {
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
    return image;
}

void HSSMeterWidget::paintEvent(QPaintEvent* event) {
    const qreal ratio = devicePixelRatioF();
    layoutFor(size() * ratio);
    QPainter painter(this);
    painter.scale(1.0 / ratio, 1.0 / ratio);
    const QRect dirty(event->rect().topLeft() * ratio, event->rect().size() * ratio);
    painter.drawPixmap(dirty, background, dirty);
    const int first = static_cast<int>(meterLevel.minDb());
    for (int bar = 0; bar < barCount; ++bar) {
        if ((shownBars & (quint64(1) << bar)) && barPixels[bar].intersects(dirty))
            painter.fillRect(barPixels[bar],
                             toQColor(meterBarColor(first + bar, MeterBarLight::Lit)));
    }
    if (hasFocus()) {
        painter.resetTransform();
        painter.setPen(palette().color(QPalette::Highlight));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    emit frameDrawn();
}
