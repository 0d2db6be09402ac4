// SPDX-License-Identifier: GPL-3.0-or-later

#include "autostart.h"

#include "log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

constexpr const char* kCategory = "Settings";

// An Exec argument quoted as the desktop entry format wants it when it holds a space or a quote.
QString execArgument(const QString& program) {
    if (!program.contains(QRegularExpression(R"([\s"'\\$`])")))
        return program;
    QString quoted = program;
    quoted.replace('\\', "\\\\\\\\")
        .replace('"', "\\\\\"")
        .replace('$', "\\\\$")
        .replace('`', "\\\\`");
    return '"' + quoted + '"';
}

} // namespace

QString autostartEntryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/autostart/umx.desktop";
}

QString autostartEntryText(const QString& program) {
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=uMX\n"
                          "Comment=Remote rig control panel and audio bridge, in the tray\n"
                          "Exec=%1 --hidden\n"
                          "Icon=umx\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n"
                          "X-GNOME-Autostart-Delay=5\n")
        .arg(execArgument(program));
}

bool setStartWithSession(bool on) {
    const QString path = autostartEntryPath();
    if (!on) {
        if (!QFile::exists(path) || QFile::remove(path))
            return true;
        HSLOG(LogLevel::Warning, kCategory) << "Cannot remove the autostart entry " << path;
        return false;
    }
    QSaveFile file(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
        file.write(autostartEntryText(QCoreApplication::applicationFilePath()).toUtf8()) < 0 ||
        !file.commit()) {
        HSLOG(LogLevel::Warning, kCategory) << "Cannot write the autostart entry " << path;
        return false;
    }
    return true;
}
