// SPDX-License-Identifier: GPL-3.0-or-later

#include "settingsvalues.h"

#include "log.h"

#include <limits>

namespace {

constexpr const char* kCategory = "MainWindow";

void warnInvalid(const QString& key, const QVariant& value, const QString& used) {
    HSLOG(LogLevel::Warning, kCategory) << "Setting \"" << key << "\" has an invalid value ("
                                        << value.toString().left(64) << "), using " << used;
}

bool isTextual(const QVariant& value) {
    return value.userType() == QMetaType::QString || value.userType() == QMetaType::QByteArray;
}

// Integers as stored by the native store or as text ("16742", " 8 ").
bool toInteger(const QVariant& value, qlonglong* out) {
    bool ok = false;
    switch (value.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        *out = value.toLongLong(&ok);
        return ok;
    case QMetaType::QString:
        *out = value.toString().trimmed().toLongLong(&ok);
        return ok;
    default:
        return false;
    }
}

} // namespace

int readIntSetting(QSettings& settings, const QString& key, int defaultValue, int min, int max) {
    if (!settings.contains(key))
        return defaultValue;
    const QVariant value = settings.value(key);
    qlonglong number = 0;
    if (!toInteger(value, &number) || number < min || number > max) {
        warnInvalid(key, value, QString::number(defaultValue));
        return defaultValue;
    }
    return static_cast<int>(number);
}

bool readBoolSetting(QSettings& settings, const QString& key, bool defaultValue) {
    if (!settings.contains(key))
        return defaultValue;
    const QVariant value = settings.value(key);
    if (value.userType() == QMetaType::Bool)
        return value.toBool();
    const QString text = value.toString().trimmed().toLower();
    if (isTextual(value) && (text == "true" || text == "1"))
        return true;
    if (isTextual(value) && (text == "false" || text == "0"))
        return false;
    warnInvalid(key, value, defaultValue ? "true" : "false");
    return defaultValue;
}

QString readStringSetting(QSettings& settings, const QString& key, const QString& defaultValue) {
    if (!settings.contains(key))
        return defaultValue;
    const QVariant value = settings.value(key);
    if (value.userType() == QMetaType::QString)
        return value.toString();
    warnInvalid(key, value, "\"" + defaultValue + "\"");
    return defaultValue;
}

QStringList readStringListSetting(QSettings& settings, const QString& key,
                                  const QStringList& defaultValue) {
    if (!settings.contains(key))
        return defaultValue;
    const QVariant value = settings.value(key);
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList();
    if (value.userType() == QMetaType::QString)
        return {value.toString()};
    if (value.userType() == QMetaType::QVariantList) {
        QStringList list;
        for (const QVariant& item : value.toList()) {
            if (item.userType() != QMetaType::QString) {
                warnInvalid(key, value, "the default list");
                return defaultValue;
            }
            list << item.toString();
        }
        return list;
    }
    // The store writes an empty list as an invalid value.
    if (!value.isValid())
        return {};
    warnInvalid(key, value, "the default list");
    return defaultValue;
}

QByteArray readBytesSetting(QSettings& settings, const QString& key) {
    if (!settings.contains(key))
        return {};
    const QVariant value = settings.value(key);
    if (value.userType() == QMetaType::QByteArray)
        return value.toByteArray();
    warnInvalid(key, value, "nothing");
    return {};
}

quint16 readPortSetting(QSettings& settings, const QString& key, quint16 defaultValue) {
    if (!settings.contains(key))
        return defaultValue;
    const QVariant value = settings.value(key);
    qlonglong number = 0;
    if (!toInteger(value, &number) || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max()) {
        warnInvalid(key, value, QString::number(defaultValue));
        return defaultValue;
    }
    const auto port = static_cast<quint16>(static_cast<quint32>(number) & 0xFFFFu);
    if (number < 0 || number > std::numeric_limits<quint16>::max())
        warnInvalid(key, value, QString::number(port) + " (its low 16 bits)");
    return port;
}
