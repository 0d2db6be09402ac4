#include "themestylesheet.h"

#include <QFile>

std::optional<QString> themeStyleSheet(const QString& themeId) {
    QFile file(QString(":/themes/%1.qss").arg(themeId));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    const QByteArray content = file.readAll();
    const int zero = content.indexOf('\0');
    return QString::fromLatin1(zero < 0 ? content : content.left(zero));
}
