// SPDX-License-Identifier: GPL-3.0-or-later

#include "log.h"

#include <array>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <mutex>

int currentLogLevel = static_cast<int>(LogLevel::Error);
bool logToFile = false;

namespace {

constexpr int kLevelColumnWidth = 10;
constexpr std::size_t kTimestampBufferSize = 100;

constexpr std::array<const char*, 8> kLevelTags = {
    "Emergency", "Alert", "Critical", "Error", "Warning", "Notice", "Info", "Debug",
};
constexpr std::array<const char*, 8> kLevelWords = {
    "emergency", "alert", "critical", "error", "warning", "notice", "info", "debug",
};

} // namespace

std::mutex& logMutex() {
    static std::mutex mutex;
    return mutex;
}

std::ofstream& logFile() {
    static std::ofstream file;
    return file;
}

std::string logTimestamp() {
    // The text changes once a second; each thread keeps the last one it formatted.
    thread_local std::time_t cachedSecond = -1;
    thread_local std::string cachedText;
    const std::time_t now = std::time(nullptr);
    if (now == cachedSecond)
        return cachedText;
    std::array<char, kTimestampBufferSize> buffer{};
    std::tm local{};
    localtime_r(&now, &local);
    const std::size_t length =
        std::strftime(buffer.data(), buffer.size(), "%Y-%m-%dT%H:%M:%S", &local);
    cachedText = length == 0 ? std::string("[time]") : std::string(buffer.data(), length);
    cachedSecond = now;
    return cachedText;
}

const char* logLevelName(int level) {
    if (level < 0 || level >= static_cast<int>(kLevelTags.size()))
        return "";
    return kLevelTags[static_cast<std::size_t>(level)];
}

std::string logCategoryTag(const char* category) {
    return std::string(": ") + category;
}

int logLevelFromWord(const QString& word) {
    for (std::size_t i = 0; i < kLevelWords.size(); ++i) {
        if (word.compare(QLatin1String(kLevelWords[i]), Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

bool openLogFile(const std::string& path) {
    logFile().open(path, std::ios::out | std::ios::trunc);
    logToFile = logFile().is_open();
    return logToFile;
}

std::string logSingleLine(std::string message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    std::string line;
    line.reserve(message.size());
    for (const char c : message) {
        if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else
            line += c;
    }
    return line;
}

LogLine::LogLine(LogLevel level, const char* category) {
    out << logTimestamp() << std::setw(kLevelColumnWidth) << logLevelName(static_cast<int>(level))
        << std::setw(0) << logCategoryTag(category) << ": ";
    messageStart = out.tellp();
}

LogLine::~LogLine() {
    std::string line = out.str();
    const auto start = static_cast<std::size_t>(messageStart);
    if (line.find_first_of("\r\n", start) != std::string::npos)
        line.replace(start, std::string::npos, logSingleLine(line.substr(start)));
    line += '\n';
    const std::lock_guard<std::mutex> guard(logMutex());
    std::cerr << line;
    if (logToFile) {
        logFile() << line;
        logFile().flush();
    }
}

std::ostream& operator<<(std::ostream& os, const QString& text) {
    return os << text.toUtf8();
}

std::ostream& operator<<(std::ostream& os, const QByteArray& bytes) {
    return os.write(bytes.constData(), bytes.size());
}
