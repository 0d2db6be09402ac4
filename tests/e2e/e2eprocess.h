#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

// A program the suite runs, with every line it prints kept in order and time-stamped, so a check
// can wait for a line, look at what came before it and measure the time between two lines.
class E2eProcess : public QObject {
    Q_OBJECT

public:
    struct Line {
        qint64 atMs; // since the suite's clock started
        QString text;
    };

    E2eProcess(const QString& name, const QElapsedTimer& clock, QObject* parent = nullptr);
    ~E2eProcess() override;

    // Lines come from standard output, or from standard error when `readStderr` is set; the other
    // stream is dropped. ALSA's start-up chatter is never kept.
    void start(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment, bool readStderr);

    // Index of the first line from `from` on that matches, waiting up to `timeoutMs`; -1 if none.
    int waitFor(const QRegularExpression& pattern, int timeoutMs, int from = 0);
    int indexOf(const QRegularExpression& pattern, int from = 0) const;
    int count(const QRegularExpression& pattern) const;
    const QList<Line>& lines() const { return kept; }
    QString transcript() const;

    qint64 pid() const { return process.processId(); }
    bool running() const { return process.state() != QProcess::NotRunning; }
    // Waits for the process to end by itself; its exit code, or -1 if it did not end in time.
    int waitExit(int timeoutMs);
    // SIGTERM, then SIGKILL if it does not end within `graceMs`.
    void stop(int graceMs = 3000);
    void kill();

signals:
    void lineRead(const QString& line);

private:
    void readFrom(QProcess::ProcessChannel channel);

    QString name;
    const QElapsedTimer& clock;
    QProcess process;
    QByteArray partial;
    QList<Line> kept;
};
