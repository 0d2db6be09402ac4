#include "hsportaudio.h"
#include "hsriglink.h"
#include "log.h"
#include "mainwindow.h"
#include "portaudiowarmup.h"
#include "terminationsignals.h"
#include "themestylesheet.h"
#include "umxversion.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFontDatabase>
#include <QLockFile>
#include <QMessageBox>
#include <QSettings>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>

namespace {

constexpr int kLockWaitMs = 100;

const QCommandLineOption kLogFileOption({"l", "log-file"}, "Write log output to <file>.", "file");
const QCommandLineOption kLogLevelOption(
    {"L", "log-level"},
    "Set log level: emergency|alert|critical|error|warning|notice|info|debug (default: error).",
    "level", "error");
const QCommandLineOption
    kHiddenOption("hidden",
                  "Start in the system tray (the window is shown where there is no tray).");
const QCommandLineOption
    kThemeOption({"t", "theme"}, "Set UI theme: default|dark_teal|dark_amber|dark_cyan|light_blue.",
                 "theme");

// High-DPI, software OpenGL and the event loop must be chosen before the application object exists.
void prepareApplicationAttributes() {
    // Qt's own event loop rather than GLib's: the audio worker and the window wake a few hundred
    // times a second while audio flows, and each wake-up through GLib's loop costs about half as
    // much again (locks, several passes over its sources). An operator's own setting stands.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // Mesa's software renderer draws the meters' small frames in the thread that asks for them
    // rather than handing them to rasterizer threads: the hand-over costs more than the pixels.
    if (!qEnvironmentVariableIsSet("LP_NUM_THREADS"))
        qputenv("LP_NUM_THREADS", "0");
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QApplication::setAttribute(Qt::AA_UseSoftwareOpenGL, true);
}

void configureCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription("UMX Control Panel - HOSKA remote audio bridge");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(kLogFileOption);
    parser.addOption(kLogLevelOption);
    parser.addOption(kThemeOption);
    parser.addOption(kHiddenOption);
}

// Help, version and a command line that cannot be parsed need no display: a console application
// prints them.
bool asksForInformation(int argc, char* argv[]) {
    QCommandLineParser parser;
    configureCommandLine(parser);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return !parser.parse(arguments) || parser.isSet("help") || parser.isSet("help-all") ||
           parser.isSet("version");
}

int printInformation(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("uMX");
    QCoreApplication::setApplicationVersion(kUmxVersion);
    QCommandLineParser parser;
    configureCommandLine(parser);
    parser.process(app);
    return 0;
}

void configureLogLevel(const QCommandLineParser& parser) {
    const int level = logLevelFromWord(parser.value(kLogLevelOption).toLower());
    if (level >= 0)
        currentLogLevel = level;
}

// Only the instance that holds the lock writes the log file, so a second start cannot truncate
// the running panel's log.
void openLogFileIfAsked(const QCommandLineParser& parser) {
    if (parser.isSet(kLogFileOption))
        openLogFile(parser.value(kLogFileOption).toUtf8().toStdString());
}

void registerFonts() {
    for (const char* face : {"Regular", "Bold", "Medium", "Italic"})
        QFontDatabase::addApplicationFont(QString(":/fonts/Roboto-%1.ttf").arg(face));
}

QString chooseTheme(const QCommandLineParser& parser) {
    if (parser.isSet(kThemeOption))
        return parser.value(kThemeOption);
    return QSettings("Hoska", "uMX").value("theme", "default").toString();
}

void installTheme(QApplication& app, const QString& theme) {
    const auto sheet = theme == QLatin1String("default") ? std::nullopt : themeStyleSheet(theme);
    if (sheet)
        app.setStyleSheet(*sheet);
    HSLOG(LogLevel::Info, "MainWindow")
        << "Theme " << theme << ": " << (sheet ? "style sheet installed" : "no style sheet");
}

} // namespace

int main(int argc, char* argv[]) {
    if (asksForInformation(argc, argv))
        return printInformation(argc, argv);
    prepareApplicationAttributes();
    auto app = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName("uMX");
    QApplication::setApplicationVersion(kUmxVersion);

    auto parser = std::make_unique<QCommandLineParser>();
    configureCommandLine(*parser);
    parser->process(*app);
    configureLogLevel(*parser);

    auto lock = std::make_unique<QLockFile>(QDir::tempPath() + "/umxcontrol.lock");
    if (!lock->tryLock(kLockWaitMs)) {
        QMessageBox::warning(nullptr, "UMX Control Panel", "Application is already running.",
                             QMessageBox::Ok);
        return 1;
    }
    openLogFileIfAsked(*parser);

    auto audioWarmUp = std::make_unique<PortAudioWarmUp>();
    registerFonts();
    installTheme(*app, chooseTheme(*parser));

    int result = 0;
    {
        // The one place where the sound card, the connection and the window are built and joined.
        HSPortAudio soundCard;
        // The window is not held up by the sound system's device probe, which may still be
        // running on its helper thread: the catalogue is built the moment it is done.
        whenPortAudioWarmedUp(&soundCard, [&soundCard] { soundCard.EnumerateAudioDevices(); });
        HSRigLink link(&soundCard);
        MainWindow window(&link);
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::terminationRequested, &window,
                         &MainWindow::endSession);
        QObject::connect(app.get(), &QGuiApplication::commitDataRequest, &window,
                         &MainWindow::endSession);
        if (!parser->isSet(kHiddenOption) || !QSystemTrayIcon::isSystemTrayAvailable())
            window.show();
        window.connectIfAskedAtStart();
        result = QApplication::exec();
    }
    audioWarmUp.reset();
    lock.reset();
    parser.reset();
    app.reset();
    return result;
}
