// SPDX-License-Identifier: GPL-3.0-or-later

#include "hslinkwindow.h"

#include "hslinkplot.h"
#include "linkrules.h"
#include "log.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <array>

namespace {

constexpr const char* kCategory = "MainWindow";

// "latency 42 ms", or "latency -" while no audio flows.
QString nowText(const LinkSample* latest, const LinkFigure& figure, int index) {
    if (!latest || !latest->streaming)
        return QString("%1 -").arg(figure.spoken);
    return QString("%1 %2 %3")
        .arg(figure.spoken)
        .arg(qRound(latest->values[index]))
        .arg(figure.unit);
}

} // namespace

HSLinkWindow::HSLinkWindow(HSRigLink* link, const QString& panel, QWidget* parent)
    : QDialog(parent)
    , link(link)
    , panelTitle(panel)
    , sampleTimer(new QTimer(this))
    , plot(new HSLinkPlot(&linkHistory, this))
    , summary(new QLabel(this))
    , copyButton(new QPushButton("Copy report", this)) {
    setObjectName("HSLinkWindow");
    setWindowTitle("UMX link");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    plot->setAccessibleName("Link history");
    plot->setAccessibleDescription("The last 30 minutes of the latency, jitter, clock skew and "
                                   "speed, and the link's events; the text below reads them");
    summary->setObjectName("summary");
    summary->setWordWrap(true);
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    summary->setAccessibleDescription("The figures now and the events of the last 30 minutes");
    copyButton->setAccessibleDescription("Puts a plain-text report of the last 30 minutes on the "
                                         "clipboard, for a forum or a mail");
    copyButton->setToolTip(copyButton->accessibleDescription());

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(copyButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plot, 1);
    layout->addWidget(summary);
    layout->addLayout(buttons);
    setTabOrder(copyButton, summary);

    connect(copyButton, &QPushButton::clicked, this, &HSLinkWindow::copyReport);
    connect(link, &HSRigLink::statusMeasured, this, [this](quint32 rx, quint32 tx, float) {
        rxKbit = kbitPerSecond(rx);
        txKbit = kbitPerSecond(tx);
    });
    connect(link, &HSRigLink::stateChanged, this, &HSLinkWindow::followState);
    connect(link, &HSRigLink::soundDeviceUnavailable, this, [this](const QString& device) {
        linkHistory.mark(QDateTime::currentMSecsSinceEpoch(), LinkChange::DeviceUnavailable,
                         device);
    });
    sampleTimer->setObjectName("sampleTimer");
    connect(sampleTimer, &QTimer::timeout, this, &HSLinkWindow::sample);
    sampleTimer->start(kSampleIntervalMs);
    showSummary();
}

void HSLinkWindow::sample() {
    // A device missing stops none of the others: the figures go on.
    const bool streaming = link->state() == HSRigLink::State::Streaming ||
                           link->state() == HSRigLink::State::DeviceLost;
    linkHistory.record(QDateTime::currentMSecsSinceEpoch(),
                       {streaming, link->playoutStats(), rxKbit, txKbit});
    copyButton->setText("Copy report");
    // Nothing is drawn while the window is closed: the history goes on alone.
    if (isVisible()) {
        plot->update();
        showSummary();
    }
}

// A change of the link is marked once, when it begins.
void HSLinkWindow::followState(HSRigLink::State state) {
    using State = HSRigLink::State;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool wasActive = lastState != State::Idle && lastState != State::GivenUp;
    if (state == State::Streaming && lastState != State::Streaming)
        linkHistory.mark(now, lastState == State::DeviceLost ? LinkChange::DevicesBack
                                                             : LinkChange::Streaming);
    else if (state == State::Reconnecting && lastState != State::Reconnecting)
        linkHistory.mark(now, LinkChange::Reconnecting);
    else if ((state == State::Idle || state == State::GivenUp) && wasActive)
        linkHistory.mark(now, LinkChange::Disconnected);
    lastState = state;
}

// The levels now, and the counts and reconnections of the last 30 minutes.
void HSLinkWindow::showSummary() {
    const int n = linkHistory.size();
    const LinkSample* latest = n > 0 ? &linkHistory.sample(n - 1) : nullptr;
    std::array<quint64, kLinkFigureCount> totals{};
    int reconnections = 0;
    for (const LinkEvent& e : linkHistory.events()) {
        if (e.figure >= 0)
            totals[e.figure] += e.count;
        else
            reconnections += e.change == LinkChange::Reconnecting;
    }
    QStringList now;
    QStringList counted;
    for (int f = 0; f < kLinkFigureCount; ++f) {
        const LinkFigure& figure = kLinkFigures[f];
        if (figure.kind == LinkFigure::Kind::Level && figure.spoken)
            now << nowText(latest, figure, f);
        else if (figure.kind == LinkFigure::Kind::Count && figure.lane)
            counted << countText(totals[f], figure.one, figure.many);
    }
    counted << countText(reconnections, "reconnection", "reconnections");
    summary->setText(
        QString("Now: %1.\nLast 30 minutes: %2.").arg(now.join(", "), counted.join(", ")));
}

QString HSLinkWindow::reportText() const {
    const CardSettings& card = link->settings().card;
    const QString host = link->hostDescription();
    LinkReportHeader header;
    header.panel = panelTitle;
    header.host = host.isEmpty() ? QStringLiteral("none has described its stream yet") : host;
    header.devices = QStringList{
        QString("cable \"%1\"").arg(card.outputDevice),
        QString("speaker \"%1\" (%2)").arg(card.audioDevice, card.speakerOn ? "on" : "off"),
        QString("capture \"%1\"").arg(card.inputDevice)};
    header.utcOffsetS = QDateTime::currentDateTime().offsetFromUtc();
    return linkReportText(header, linkHistory);
}

void HSLinkWindow::copyReport() {
    QApplication::clipboard()->setText(reportText());
    // Said on the button, which a screen reader reads again, until the next second.
    copyButton->setText("Copied");
    HSLOG(LogLevel::Info, kCategory) << "Link report copied to the clipboard";
}
