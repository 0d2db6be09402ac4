// SPDX-License-Identifier: GPL-3.0-or-later
// The link window: its history's bounds and summary, the plot's pictures in every theme, and what
// a screen reader and the keyboard reach of the panel.
#include "hslinkplot.h"
#include "hslinkwindow.h"
#include "hssettingsdlg.h"
#include "hssmeterwidget.h"
#include "scenario.h"
#include "standinsoundcard.h"
#include "themestylesheet.h"

#include <QAccessible>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

namespace {

// Seconds from an arbitrary start, in milliseconds since the epoch.
constexpr qint64 kStartMs = 1796000000000;

LinkReading streamingAt(double latencyMs) {
    LinkReading r{true, {}, 1500, 750};
    r.playout.delayMs = latencyMs - 10;
    r.playout.cardLatencyMs = 10;
    r.playout.hostRate = 48000;
    return r;
}

// Half an hour as the plot is drawn from: the latency wanders, the jitter climbs, the skew swings
// through zero, audio stops for two minutes and comes back; faults, repairs, stalls and changes
// along the way.
LinkHistory knownSeries() {
    LinkHistory h;
    for (int s = 0; s < LinkHistory::kCapacity; ++s) {
        LinkReading r = streamingAt(40 + 12 * std::sin(s / 90.0));
        r.streaming = s < 700 || s > 820;
        r.playout.jitterMs = 2 + s / 200.0;
        r.playout.skewPpm = 80 * std::cos(s / 300.0);
        r.txKbit = s < 1200 ? 750 : 0;
        r.playout.underruns = s / 400;
        r.playout.lostDatagrams = s / 250;
        r.playout.concealedFrames = s / 150 * 480;
        r.playout.stalls = s / 600;
        r.playout.stallsCovered = s / 1000;
        h.record(kStartMs + s * 1000, r);
        if (s == 700)
            h.mark(kStartMs + s * 1000, LinkChange::Reconnecting);
        if (s == 821)
            h.mark(kStartMs + s * 1000, LinkChange::Streaming);
        if (s == 1500)
            h.mark(kStartMs + s * 1000, LinkChange::DeviceUnavailable, "UMX Speaker");
    }
    return h;
}

} // namespace

class TestLinkWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        for (const char* face : {"Regular", "Bold", "Medium", "Italic"})
            QFontDatabase::addApplicationFont(QString(":/fonts/Roboto-%1.ttf").arg(face));
    }

    // Thirty minutes and no more at any uptime, by time and by count; events leave with their
    // half hour, and never pile up beyond their bound.
    void historyKeepsHalfAnHour_data() {
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("stepMs");
        QTest::addColumn<int>("marksEach");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("oldestS");
        QTest::addColumn<int>("events");
        QTest::newRow("two seconds apart") << 2000 << 2000 << 0 << 900 << 2200 << 900;
        QTest::newRow("twice a second") << 4000 << 500 << 0 << 1800 << 1100 << 3600;
        QTest::newRow("a flood of marks") << 1800 << 1000 << 5 << 1800 << 0 << 7200;
    }
    void historyKeepsHalfAnHour() {
        QFETCH(int, samples);
        QFETCH(int, stepMs);
        QFETCH(int, marksEach);
        LinkHistory h;
        for (int i = 0; i < samples; ++i) {
            LinkReading r = streamingAt(40);
            r.playout.underruns = i + 1; // one more each time
            h.record(kStartMs + qint64(i) * stepMs, r);
            for (int m = 0; m < marksEach; ++m)
                h.mark(kStartMs + qint64(i) * stepMs, LinkChange::Reconnecting);
        }
        QTEST(h.size(), "size");
        QTEST(int((h.sample(0).timeMs - kStartMs) / 1000), "oldestS");
        QTEST(int(h.events().size()), "events");
    }

    // Minimum, median and maximum over the seconds with audio only.
    void summary_data() {
        QTest::addColumn<QList<double>>("latencies"); // a negative one: a second without audio
        QTest::addColumn<QList<double>>("expected");  // seconds, min, median, max
        QTest::newRow("odd") << QList<double>{30, 10, 20} << QList<double>{3, 10, 20, 30};
        QTest::newRow("even, silence left out")
            << QList<double>{50, -1, -1, 10} << QList<double>{2, 10, 30, 50};
        QTest::newRow("no audio") << QList<double>{-1} << QList<double>{0, 0, 0, 0};
    }
    void summary() {
        QFETCH(QList<double>, latencies);
        LinkHistory h;
        for (int s = 0; s < latencies.size(); ++s) {
            LinkReading r = streamingAt(latencies[s]);
            r.streaming = latencies[s] >= 0;
            h.record(kStartMs + s * 1000, r);
        }
        const FigureSummary f = summarize(h, 0); // the latency, the table's first row
        QTEST((QList<double>{double(f.seconds), f.min, f.median, f.max}), "expected");
    }

    // The report as an operator pastes it: every figure's row, every event with its local time.
    // A count's growth is one event in its second, the concealed audio in milliseconds; a count
    // that fell is a new stream's.
    void reportText() {
        LinkHistory h;
        // Underruns, late and lost datagrams, concealed frames, stalls ridden out and covered, as
        // the playout counts them.
        const int counts[][6] = {
            {0, 0, 0, 0, 0, 0}, {3, 0, 1, 960, 1, 0}, {3, 2, 1, 960, 1, 1}, {1, 2, 4, 0, 0, 0}};
        for (int s = 0; s < 4; ++s) {
            LinkReading r = streamingAt(41 + s);
            r.playout.jitterMs = 3 + s;
            r.playout.skewPpm = -12.25 * s;
            r.rxKbit = 1500 + s;
            r.txKbit = 0;
            r.playout.underruns = counts[s][0];
            r.playout.lateDatagrams = counts[s][1];
            r.playout.lostDatagrams = counts[s][2];
            r.playout.concealedFrames = counts[s][3];
            r.playout.stalls = counts[s][4];
            r.playout.stallsCovered = counts[s][5];
            h.record(kStartMs + s * 1000, r);
            if (s == 2)
                h.mark(kStartMs + 2500, LinkChange::DeviceUnavailable, "UMX Speaker");
        }
        const LinkReportHeader header{"UMX control panel 1.5.2",
                                      "ws://10.0.0.1:4590, 48000 Hz",
                                      {"cable \"A\"", "capture \"B\""},
                                      3600};
        QCOMPARE(linkReportText(header, h), QString(R"(UMX control panel 1.5.2
Host: ws://10.0.0.1:4590, 48000 Hz
Devices: cable "A", capture "B"
From 2026-11-30T01:53:20 to 2026-11-30T01:53:23 (UTC+01:00), 4 s with audio of 4 s recorded

                           min   median      max
Latency (ms)              41.0     42.5     44.0
Arrival jitter (ms)        3.0      4.5      6.0
Clock skew (ppm)         -36.8    -18.4      0.0
Received (KBit/s)       1500.0   1501.5   1503.0
Transmitted (KBit/s)       0.0      0.0      0.0

Events:
2026-11-30T01:53:21  3 underruns
2026-11-30T01:53:21  1 lost datagram
2026-11-30T01:53:21  20 ms concealed
2026-11-30T01:53:21  1 stall ridden out
2026-11-30T01:53:22  2 late datagrams
2026-11-30T01:53:22  1 stall covered by raising the latency
2026-11-30T01:53:22  Sound device "UMX Speaker" unavailable
2026-11-30T01:53:23  1 underrun
2026-11-30T01:53:23  3 lost datagrams
)"));
    }

    // The plot of a known half hour, pixel for pixel, in every theme. UMX_UPDATE_REFERENCES=1
    // writes the pictures instead, into the source tree.
    void plotMatchesReference_data() {
        QTest::addColumn<QString>("theme");
        for (const QString& theme : QStringList{kDefaultTheme} + themeIds())
            QTest::newRow(qPrintable(theme)) << theme;
    }
    void plotMatchesReference() {
        QFETCH(QString, theme);
        applyTheme(theme);
        const LinkHistory history = knownSeries();
        HSLinkPlot plot(&history);
        plot.setFixedSize(640, 400);
        plot.ensurePolished();
        const QImage picture = plot.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QString name = "references/linkplot-" + theme + ".png";
        if (qEnvironmentVariableIsSet("UMX_UPDATE_REFERENCES"))
            QVERIFY(picture.save(qEnvironmentVariable("UMX_SOURCE_DIR") + "/tests/ui/" + name));
        else
            QCOMPARE(picture, QImage(QFINDTESTDATA(name)).convertToFormat(QImage::Format_RGB32));
    }

    // The window records every second from its start, never shown, so that the half hour an
    // operator opens it to see is there; it marks each change of the link once, the sound devices
    // working again apart from a new stream.
    void theWindowRecordsUnseenAndMarksEachChange() {
        StandInSoundCard card;
        HSRigLink link(&card);
        HSLinkWindow window(&link, "UMX control panel");
        using State = HSRigLink::State;
        for (State state : {State::Connecting, State::Streaming, State::DeviceLost,
                            State::Streaming, State::Reconnecting, State::Streaming, State::Idle}) {
            emit link.stateChanged(state);
            QMetaObject::invokeMethod(window.findChild<QTimer*>("sampleTimer"), "timeout");
        }
        window.copyReport();
        const QString report = QApplication::clipboard()->text();
        QVERIFY2(report.contains(" of 7 s recorded\n"), qPrintable(report));
        QCOMPARE(report.section("Events:\n", 1).remove(QRegularExpression("\\S+  ")),
                 "Streaming\nSound devices working again\nReconnecting\nStreaming\nDisconnected\n");
    }

    // Tab goes from the rig's address through the buttons to the meters, each named and described
    // for a screen reader, the meters with their level as a value; the settings dialog's controls
    // are described too. The keys the tool tips give connect and switch the speaker; the tray's
    // menu and a click on the status line open the link window, whose controls are described; it
    // has recorded the connection, and its report names the host, the speed and the events.
    void aScreenReaderAndTheKeyboardReachEverything() {
        Scenario s;
        QVERIFY(QTest::qWaitForWindowActive(s.window.get()));
        const auto describedName = [](QWidget* focused) {
            QWidget* parent = focused->parentWidget();
            // The text field inside a combo or spin box is part of it.
            const bool part =
                parent && (parent->focusProxy() == focused || focused->focusProxy() == parent);
            QWidget* control = part ? parent : focused;
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(control);
            // A screen reader names a control by its label, where it has one.
            const auto labels = a->relations(QAccessible::Label);
            if (a->text(QAccessible::Description).isEmpty())
                return "undescribed " + control->objectName();
            return (labels.isEmpty() ? a : labels.first().first)->text(QAccessible::Name);
        };
        auto* rig = s.window->findChild<QComboBox*>("cbRig");
        rig->setFocus();
        QStringList names;
        for (int control = 0; control < 7; ++control) {
            names << describedName(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(names,
                 QStringList({"URL:", "Speaker", "Settings", "Connect to RIG",
                              "Received left level", "Received right level", "Captured level"}));
        HSSettingsDlg settings(s.window.get(), &s.link, loadPanelSettings());
        for (QWidget* w : settings.findChildren<QWidget*>())
            if (w->focusPolicy() & Qt::TabFocus && w->isVisibleTo(&settings))
                QVERIFY2(!describedName(w).isEmpty() && !describedName(w).startsWith("undescribed"),
                         qPrintable(describedName(w)));
        auto* meter = s.window->findChild<HSSMeterWidget*>();
        meter->setDBm(-12.4f);
        QAccessibleInterface* gauge = QAccessible::queryAccessibleInterface(meter);
        QCOMPARE(gauge->valueInterface()->currentValue().toInt(), -12);
        QCOMPARE(gauge->text(QAccessible::Value), QString("-12 dBFS"));

        QTest::keyClick(rig->lineEdit(), Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(QTest::qWaitFor([&] { return s.host.received.contains("startOutput"); }));
        QTest::keyClick(rig->lineEdit(), Qt::Key_M, Qt::ControlModifier);
        QVERIFY(s.window->findChild<QToolButton*>("tbAudio")->isChecked());
        auto* linkWindow = s.window->findChild<HSLinkWindow*>();
        for (QAction* entry : s.window->findChild<QSystemTrayIcon*>()->contextMenu()->actions())
            if (entry->text() == "Link...")
                entry->trigger();
        QVERIFY(linkWindow->isVisible());
        linkWindow->close();
        QTest::mouseClick(s.window->statusBar(), Qt::LeftButton);
        QVERIFY(QTest::qWaitForWindowExposed(linkWindow));
        auto* plot = QAccessible::queryAccessibleInterface(linkWindow->findChild<HSLinkPlot*>());
        QCOMPARE(plot->text(QAccessible::Name), QString("Link history"));
        for (QWidget* w : linkWindow->findChildren<QWidget*>())
            if (w->focusPolicy() & Qt::TabFocus)
                QVERIFY(!describedName(w).startsWith("undescribed"));
        s.fire("statusTimer");
        QMetaObject::invokeMethod(linkWindow->findChild<QTimer*>("sampleTimer"), "timeout");
        s.pressConnect();
        QTRY_COMPARE(s.state(), HSRigLink::State::Idle);
        linkWindow->findChild<QPushButton*>()->click();
        const QString report = QApplication::clipboard()->text();
        const QRegularExpression expected(
            s.host.address() +
                R"(, 48000 Hz, 256 frames a datagram\n.*Transmitted \(KBit/s\) +[1-9].*Streaming\n.*Disconnected\n$)",
            QRegularExpression::DotMatchesEverythingOption);
        QVERIFY2(report.contains(expected), qPrintable(report));
    }
};

QTEST_MAIN(TestLinkWindow)
#include "tst_linkwindow.moc"
