// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the signals that ask a process to end (SIGTERM, SIGINT, SIGHUP on Unix) into a Qt signal
// in the GUI thread, so that a logout or a `kill` ends the panel the way Quit does. The handler
// itself only writes a byte to a socket pair; the notifier reads it in the event loop. Elsewhere
// this does nothing.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* notifier = nullptr;
};
