#include "e2eprocess.h"

#include <QtTest>

E2eProcess::E2eProcess(const QString& name_, const QElapsedTimer& clock_, QObject* parent)
    : QObject(parent)
    , name(name_)
    , clock(clock_) {}

E2eProcess::~E2eProcess() {
    kill();
}

void E2eProcess::start(const QString& program, const QStringList& arguments,
                       const QProcessEnvironment& environment, bool readStderr) {
    process.setProcessEnvironment(environment);
    const QProcess::ProcessChannel wanted =
        readStderr ? QProcess::StandardError : QProcess::StandardOutput;
    if (readStderr) {
        process.setStandardOutputFile(QProcess::nullDevice());
        connect(&process, &QProcess::readyReadStandardError, this,
                [this] { readFrom(QProcess::StandardError); });
    } else {
        process.setStandardErrorFile(QProcess::nullDevice());
        connect(&process, &QProcess::readyReadStandardOutput, this,
                [this] { readFrom(QProcess::StandardOutput); });
    }
    process.setReadChannel(wanted);
    process.start(program, arguments);
    if (!process.waitForStarted())
        qWarning("%s: cannot start %s", qPrintable(name), qPrintable(program));
}

void E2eProcess::readFrom(QProcess::ProcessChannel channel) {
    process.setReadChannel(channel);
    partial += process.readAll();
    int end;
    while ((end = partial.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(partial.left(end));
        partial.remove(0, end + 1);
        if (line.startsWith(QLatin1String("ALSA lib ")))
            continue;
        kept.append({clock.elapsed(), line});
        emit lineRead(line);
    }
}

int E2eProcess::indexOf(const QRegularExpression& pattern, int from) const {
    for (int i = std::max(from, 0); i < kept.size(); ++i) {
        if (pattern.match(kept.at(i).text).hasMatch())
            return i;
    }
    return -1;
}

int E2eProcess::waitFor(const QRegularExpression& pattern, int timeoutMs, int from) {
    int found = -1;
    (void)QTest::qWaitFor(
        [&] {
            found = indexOf(pattern, from);
            return found >= 0;
        },
        timeoutMs);
    return found;
}

int E2eProcess::count(const QRegularExpression& pattern) const {
    int n = 0;
    for (const Line& line : kept)
        n += pattern.match(line.text).hasMatch() ? 1 : 0;
    return n;
}

QString E2eProcess::transcript() const {
    QString out = QStringLiteral("--- %1 ---\n").arg(name);
    for (const Line& line : kept)
        out += QStringLiteral("%1 %2\n").arg(line.atMs, 7).arg(line.text);
    return out;
}

int E2eProcess::waitExit(int timeoutMs) {
    if (running() && !QTest::qWaitFor([this] { return !running(); }, timeoutMs))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void E2eProcess::stop(int graceMs) {
    if (!running())
        return;
    process.terminate();
    if (!QTest::qWaitFor([this] { return !running(); }, graceMs))
        kill();
}

void E2eProcess::kill() {
    if (!running())
        return;
    process.kill();
    process.waitForFinished(3000);
}
