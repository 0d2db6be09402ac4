// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "log.h"

#include <QStringList>

#include <iostream>
#include <sstream>

// Swaps std::cerr's buffer for one of its own while it lives, so a test reads the log lines the
// code under test wrote, from any thread: the log writes each line under its lock.
class LogCapture {
public:
    LogCapture() { swap(&captured); }
    ~LogCapture() { swap(old); }
    // A copy would put the sink back twice.
    Q_DISABLE_COPY(LogCapture)

    QString text() const {
        const std::lock_guard<std::mutex> guard(logMutex());
        return QString::fromStdString(captured.str());
    }
    QStringList lines() const { return text().split('\n', Qt::SkipEmptyParts); }

private:
    void swap(std::streambuf* buffer) {
        const std::lock_guard<std::mutex> guard(logMutex());
        old = std::cerr.rdbuf(buffer);
    }

    std::stringbuf captured;
    std::streambuf* old = nullptr;
};
