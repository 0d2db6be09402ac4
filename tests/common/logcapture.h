#pragma once

#include <QString>
#include <QStringList>

#include <iostream>
#include <sstream>

// Swaps std::cerr's buffer for a string buffer while it lives, so a test reads the log lines the
// code under test wrote. For one thread only: a string buffer is not safe for concurrent writes.
class LogCapture {
public:
    LogCapture()
        : old(std::cerr.rdbuf(captured.rdbuf())) {}
    ~LogCapture() { std::cerr.rdbuf(old); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QString text() const { return QString::fromStdString(captured.str()); }
    QStringList lines() const { return text().split('\n', Qt::SkipEmptyParts); }

    // Each line without its timestamp and the padding of its level column: "Error: PortAudio: x".
    QStringList bodies() const {
        QStringList out;
        for (const QString& line : lines())
            out << line.mid(kTimestampWidth).trimmed();
        return out;
    }

    // The message part of every line with the given level tag and category.
    QStringList messages(const char* tag, const char* category) const {
        QStringList out;
        const QString marker =
            QStringLiteral("%1: %2: ").arg(QLatin1String(tag), 10).arg(QLatin1String(category));
        for (const QString& line : lines()) {
            if (line.mid(kTimestampWidth, marker.size()) == marker)
                out << line.mid(kTimestampWidth + marker.size());
        }
        return out;
    }

private:
    static constexpr int kTimestampWidth = 19;
    std::ostringstream captured;
    std::streambuf* old;
};
