// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QString>

#include <fstream>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>

// Syslog-style severities: lower is more severe.
enum class LogLevel : int {
    Emergency = 0,
    Alert = 1,
    Critical = 2,
    Error = 3,
    Warning = 4,
    Notice = 5,
    Info = 6,
    Debug = 7,
};

// Written once by start-up before any other thread exists, only read afterwards.
extern int currentLogLevel;
extern bool logToFile;

// Held while a line is written to its sinks: the GUI and worker threads both log, and neither the
// log file's stream nor a buffer given to std::cerr (a redirection, a test's capture) is safe for
// two threads at once.
std::mutex& logMutex();
// The process-wide log file; start-up opens it, process exit flushes and closes it.
std::ofstream& logFile();
// Opens the log file, truncated, and logs to it from then on when that worked.
bool openLogFile(const std::string& path);

std::string logTimestamp();
const char* logLevelName(int level);
std::string logCategoryTag(const char* category);

// Maps a command-line word ("debug", "info", ...; the case does not matter) to its level; -1
// when unknown.
int logLevelFromWord(const QString& word);

inline bool logEnabled(LogLevel level) {
    return static_cast<int>(level) <= currentLogLevel;
}

// A message as one line: trailing line breaks dropped, inner ones written as \n (or \r).
std::string logSingleLine(std::string message);

// Composes one line in a private stream and writes it with one insertion per sink when it dies.
class LogLine {
public:
    LogLine(LogLevel level, const char* category);
    ~LogLine();
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    std::ostream& stream() { return out; }

private:
    std::ostringstream out;
    std::streampos messageStart;
};

// Lets the conditional operator in HSLOG yield void on both branches.
struct LogVoidify {
    void operator&(std::ostream&) {}
};

// The level is tested before anything is composed, so a suppressed statement costs one comparison.
#define HSLOG(level, category)                                                                     \
    !logEnabled(level) ? (void)0 : LogVoidify() & LogLine((level), (category)).stream()

// Qt text goes into log lines as its UTF-8 bytes.
std::ostream& operator<<(std::ostream& os, const QString& text);
std::ostream& operator<<(std::ostream& os, const QByteArray& bytes);
