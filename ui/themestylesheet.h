// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The theme that installs no style sheet: the platform's own look.
inline const QString kDefaultTheme = QStringLiteral("default");

// The themes that have a style sheet, in the order of the palette table they are made from.
QStringList themeIds();
// A theme's name as the operator reads it: "dark_teal" is "Dark Teal", the default theme
// "System Default".
QString themeTitle(const QString& themeId);

// The style sheet of a theme from the compiled-in resources (":/themes/<id>.qss"), as Latin-1 text
// up to the first zero byte; nullopt when the theme has no sheet.
std::optional<QString> themeStyleSheet(const QString& themeId);

// Restyles the whole application at once: the default theme removes the style sheet, another theme
// installs its own; a theme without a sheet leaves the application as it is.
void applyTheme(const QString& themeId);
