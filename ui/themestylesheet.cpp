// SPDX-License-Identifier: GPL-3.0-or-later

#include "themestylesheet.h"

#include "log.h"
#include "umxthemes.h"

#include <QApplication>
#include <QFile>

QStringList themeIds() {
    QStringList ids;
    for (const char* theme : kUmxThemes)
        ids << QString::fromLatin1(theme);
    return ids;
}

QString themeTitle(const QString& themeId) {
    if (themeId == kDefaultTheme)
        return QStringLiteral("System Default");
    QStringList words = themeId.split('_');
    for (QString& word : words)
        word = word.left(1).toUpper() + word.mid(1);
    return words.join(' ');
}

std::optional<QString> themeStyleSheet(const QString& themeId) {
    QFile file(QString(":/themes/%1.qss").arg(themeId));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    const QByteArray content = file.readAll();
    const int zero = content.indexOf('\0');
    return QString::fromLatin1(zero < 0 ? content : content.left(zero));
}

void applyTheme(const QString& themeId) {
    if (themeId == kDefaultTheme)
        qApp->setStyleSheet(QString());
    else if (const auto sheet = themeStyleSheet(themeId))
        qApp->setStyleSheet(*sheet);
    else
        HSLOG(LogLevel::Info, "MainWindow") << "Theme " << themeId << " has no style sheet";
}
