// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "hsriglink.h"
#include "linkhistory.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTimer;
class HSLinkPlot;

// The link at a glance: the last 30 minutes of its figures and events, plotted, and a button that
// puts a plain-text report of them on the clipboard. It records once a second from its own timer
// ("sampleTimer") for as long as it exists, shown or not; the link must outlive it. A dialog that
// does not block the panel, so that Escape closes it and a screen reader names it as a window.
class HSLinkWindow : public QDialog {
    Q_OBJECT

public:
    static constexpr int kSampleIntervalMs = 1000;

    // `panel` names the panel and its version in the report.
    HSLinkWindow(HSRigLink* link, const QString& panel, QWidget* parent = nullptr);

public slots:
    void copyReport();

private:
    QString reportText() const;
    void sample();
    void followState(HSRigLink::State state);
    void showSummary();

    HSRigLink* link;
    QString panelTitle;
    LinkHistory linkHistory;
    HSRigLink::State lastState = HSRigLink::State::Idle;
    quint32 rxKbit = 0;
    quint32 txKbit = 0;
    QTimer* sampleTimer;
    HSLinkPlot* plot;
    QLabel* summary;
    QPushButton* copyButton;
};
