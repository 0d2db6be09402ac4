#pragma once

#include <QString>
#include <QStringList>

#include <iostream>
#include <mutex>
#include <string>

// Swaps std::cerr's buffer for one of its own while it lives, so a test reads the log lines the
// code under test wrote. Writes from several threads (the audio worker's, the GUI's) are safe.
class LogCapture {
public:
    LogCapture()
        : old(std::cerr.rdbuf(&captured)) {}
    ~LogCapture() { std::cerr.rdbuf(old); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QString text() const { return QString::fromStdString(captured.str()); }
    QStringList lines() const { return text().split('\n', Qt::SkipEmptyParts); }

private:
    // No put area: every character goes through the locked overrides.
    class LockedBuffer : public std::streambuf {
    public:
        std::string str() const {
            const std::lock_guard<std::mutex> guard(mutex);
            return text;
        }

    protected:
        int_type overflow(int_type c) override {
            if (!traits_type::eq_int_type(c, traits_type::eof())) {
                const std::lock_guard<std::mutex> guard(mutex);
                text.push_back(traits_type::to_char_type(c));
            }
            return traits_type::not_eof(c);
        }
        std::streamsize xsputn(const char* s, std::streamsize n) override {
            const std::lock_guard<std::mutex> guard(mutex);
            text.append(s, static_cast<size_t>(n));
            return n;
        }

    private:
        mutable std::mutex mutex;
        std::string text;
    };

    LockedBuffer captured;
    std::streambuf* old;
};
