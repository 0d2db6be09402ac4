#pragma once

#include <QString>

#include <optional>

// The style sheet of a theme from the compiled-in resources (":/themes/<id>.qss"), as Latin-1 text
// up to the first zero byte; nullopt when the theme has no sheet.
std::optional<QString> themeStyleSheet(const QString& themeId);
