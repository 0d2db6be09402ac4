// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>

// Typed reads from the settings store. An absent key gives the default. A value of the wrong type
// or outside its range gives the default too and a Warning that names the key, so a damaged store
// never stops the panel and never goes unnoticed.
int readIntSetting(QSettings& settings, const QString& key, int defaultValue, int min, int max);
bool readBoolSetting(QSettings& settings, const QString& key, bool defaultValue);
QString readStringSetting(QSettings& settings, const QString& key, const QString& defaultValue);
QStringList readStringListSetting(QSettings& settings, const QString& key,
                                  const QStringList& defaultValue);
QByteArray readBytesSetting(QSettings& settings, const QString& key);
// A port keeps its low 16 bits; a value outside 0 to 65535 is reported.
quint16 readPortSetting(QSettings& settings, const QString& key, quint16 defaultValue);
