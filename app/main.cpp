// SPDX-License-Identifier: GPL-3.0-or-later

#include "hsportaudio.h"
#include "hsriglink.h"
#include "log.h"
#include "mainwindow.h"
#include "panelsettings.h"
#include "portaudiowarmup.h"
#include "terminationsignals.h"
#include "themestylesheet.h"
#include "windowbehaviour.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFontDatabase>
#include <QLockFile>
#include <QMessageBox>
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
    kThemeOption({"t", "theme"},
                 "Set UI theme: " + (QStringList{kDefaultTheme} + themeIds()).join('|') + ".",
                 "theme");

// Qt's own options, which QApplication takes out of the command line before the panel reads it
// (`umx -style Fusion -session ID` is how a session manager restores a program): those with a
// value and those without. Qt takes each as -name, --name and, with a value, -name=value.
const QStringList kQtOptionsWithValue = {
    "platform", "platformpluginpath", "platformtheme",   "plugin", "display",
    "name",     "geometry",           "qwindowgeometry", "title",  "qwindowtitle",
    "icon",     "qwindowicon",        "session",         "style",  "stylesheet",
};
const QStringList kQtFlags = {"reverse", "sync", "widgetcount", "testability"};

// High-DPI, the event loop and the window system's OpenGL must be chosen before the application
// object exists.
void prepareApplicationAttributes() {
    // Qt's own event loop rather than GLib's: the audio worker and the window wake a few hundred
    // times a second while audio flows, and each wake-up through GLib's loop costs about half as
    // much again (locks, several passes over its sources). An operator's own setting stands.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // Nothing in the panel draws with OpenGL, but Qt's X11 platform would load its OpenGL
    // integration at start, and with it the system's driver (Mesa's software renderer is some
    // 60 MB). An operator's own setting stands.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
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

QStringList argumentsOf(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// The command line as QApplication leaves it, for when there is none to take Qt's options out.
QStringList withoutQtOptions(const QStringList& arguments) {
    QStringList kept;
    for (int i = 0; i < arguments.size(); ++i) {
        QString name = arguments.at(i);
        if (i == 0 || !name.startsWith('-')) {
            kept << name;
            continue;
        }
        name = name.mid(name.startsWith("--") ? 2 : 1);
        if (kQtFlags.contains(name) || kQtOptionsWithValue.contains(name.section('=', 0, 0)))
            i += kQtOptionsWithValue.contains(name) ? 1 : 0;
        else
            kept << arguments.at(i);
    }
    return kept;
}

// Help, version and a command line that cannot be parsed need no display: a console application
// answers them.
bool asksForInformation(int argc, char* argv[]) {
    QCommandLineParser parser;
    configureCommandLine(parser);
    return !parser.parse(withoutQtOptions(argumentsOf(argc, argv))) || parser.isSet("help") ||
           parser.isSet("help-all") || parser.isSet("version");
}

int printInformation(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    setApplicationIdentity();
    QCommandLineParser parser;
    configureCommandLine(parser);
    parser.process(withoutQtOptions(QCoreApplication::arguments()));
    return 0;
}

void configureLogLevel(const QCommandLineParser& parser) {
    const int level = logLevelFromWord(parser.value(kLogLevelOption));
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

} // namespace

int main(int argc, char* argv[]) {
    if (asksForInformation(argc, argv))
        return printInformation(argc, argv);
    prepareApplicationAttributes();
    // Takes Qt's own options out of the command line.
    auto app = std::make_unique<QApplication>(argc, argv);
    setApplicationIdentity();

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
    const PanelSettings settings = loadPanelSettings();
    // A theme given on the command line is for this run only: the window keeps the stored one.
    applyTheme(parser->isSet(kThemeOption) ? parser->value(kThemeOption) : settings.window.theme);

    int result = 0;
    {
        // The one place where the sound card, the connection and the window are built and joined.
        HSPortAudio soundCard;
        // The window is not held up by the sound system's device probe, which may still be
        // running on its helper thread: the catalogue is built the moment it is done.
        whenPortAudioWarmedUp(&soundCard, [&soundCard] { soundCard.EnumerateAudioDevices(); });
        HSRigLink link(&soundCard);
        MainWindow window(&link, settings);
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::terminationRequested, &window,
                         &MainWindow::endSession);
        QObject::connect(app.get(), &QGuiApplication::commitDataRequest, &window,
                         &MainWindow::endSession);
        if (!startsHidden(parser->isSet(kHiddenOption), QSystemTrayIcon::isSystemTrayAvailable()))
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
