// SPDX-License-Identifier: GPL-3.0-or-later
// Shows the panel's three level meters and its busy spinner with moving levels, so their look
// and cost can be judged without a rig. --screenshot writes a still picture with fixed levels.

#include "hssmeterwidget.h"
#include "hsspinner.h"
#include "levelsource.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLabel>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <cstdio>

namespace {
constexpr int defaultRate = 25;
constexpr int spinnerRowHeight = 60;
constexpr int screenshotSettleMs = 400;
const QColor windowColour(24, 24, 24);

struct Meters {
    HSSMeterWidget* left;
    HSSMeterWidget* right;
    HSSMeterWidget* captured;
};

// Each meter shows a reading below a peak it still holds, so the marker is visible.
void showFixedLevels(const Meters& m) {
    m.left->setDBm(-1.0f);
    m.left->setDBm(-8.0f);
    m.right->setDBm(-6.0f);
    m.right->setDBm(-20.0f);
    m.captured->setDBm(-24.0f);
    m.captured->setDBm(-33.0f);
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("umx-meterdemo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Level meters and spinner of the uMX panel, fed with moving levels."));
    parser.addHelpOption();
    const QCommandLineOption rateOption(QStringLiteral("rate"),
                                        QStringLiteral("Readings per second for each meter."),
                                        QStringLiteral("n"), QString::number(defaultRate));
    const QCommandLineOption durationOption(
        QStringLiteral("duration"),
        QStringLiteral("Quit after this many seconds (0: run until closed)."),
        QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"),
        QStringLiteral("Write a picture of the window with fixed levels and quit."),
        QStringLiteral("file"));
    const QCommandLineOption noSpinnerOption(QStringLiteral("no-spinner"),
                                             QStringLiteral("Leave the spinner out."));
    parser.addOptions({rateOption, durationOption, screenshotOption, noSpinnerOption});
    parser.process(app);

    bool ok = false;
    const int rate = parser.value(rateOption).toInt(&ok);
    if (!ok || rate < 1 || rate > 1000) {
        std::fprintf(stderr, "umx-meterdemo: --rate wants a number from 1 to 1000\n");
        return 2;
    }
    const double duration = parser.value(durationOption).toDouble(&ok);
    if (!ok || duration < 0) {
        std::fprintf(stderr, "umx-meterdemo: --duration wants a number of seconds\n");
        return 2;
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("uMX level meters"));
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, windowColour);
    palette.setColor(QPalette::WindowText, Qt::lightGray);
    window.setPalette(palette);
    window.setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(&window);
    const Meters meters{new HSSMeterWidget(&window, QStringLiteral("L")),
                        new HSSMeterWidget(&window, QStringLiteral("R")),
                        new HSSMeterWidget(&window, QStringLiteral("M"))};
    layout->addWidget(meters.left);
    layout->addWidget(meters.right);
    layout->addWidget(meters.captured);

    qint64 frames = 0;
    for (HSSMeterWidget* m : {meters.left, meters.right, meters.captured})
        QObject::connect(m, &HSSMeterWidget::frameDrawn, [&frames] { ++frames; });

    if (!parser.isSet(noSpinnerOption)) {
        auto* spinnerRow = new QWidget(&window);
        spinnerRow->setFixedSize(HSSMeterWidget::fixedWidth, spinnerRowHeight);
        layout->addWidget(spinnerRow);
        auto* spinner = new HSSpinner(spinnerRow);
        spinner->start();
    }

    window.show();

    if (parser.isSet(screenshotOption)) {
        const QString file = parser.value(screenshotOption);
        int status = 1;
        showFixedLevels(meters);
        QTimer::singleShot(screenshotSettleMs, &window, [&] {
            if (window.grab().save(file)) {
                status = 0;
                std::printf("umx-meterdemo: wrote %s\n", qPrintable(file));
            } else {
                std::fprintf(stderr, "umx-meterdemo: cannot write %s\n", qPrintable(file));
            }
            QApplication::quit();
        });
        QApplication::exec();
        return status;
    }

    QThread feeder;
    auto* source = new LevelSource(rate);
    source->moveToThread(&feeder);
    QObject::connect(&feeder, &QThread::finished, source, &QObject::deleteLater);
    QObject::connect(&feeder, &QThread::started, source, &LevelSource::start);
    QObject::connect(source, &LevelSource::left, meters.left, &HSSMeterWidget::setDBm,
                     Qt::QueuedConnection);
    QObject::connect(source, &LevelSource::right, meters.right, &HSSMeterWidget::setDBm,
                     Qt::QueuedConnection);
    QObject::connect(source, &LevelSource::captured, meters.captured, &HSSMeterWidget::setDBm,
                     Qt::QueuedConnection);
    feeder.start();

    QElapsedTimer running;
    running.start();
    if (duration > 0)
        QTimer::singleShot(static_cast<int>(duration * 1000), &app, &QApplication::quit);
    const int status = QApplication::exec();

    QMetaObject::invokeMethod(source, &LevelSource::stop, Qt::BlockingQueuedConnection);
    feeder.quit();
    feeder.wait();
    std::printf("umx-meterdemo: %d readings per second per meter, %lld frames in %.1f s\n", rate,
                static_cast<long long>(frames), running.elapsed() / 1000.0);
    return status;
}
