#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>

#include <chrono>

namespace orvane::test {

// What a program run to its end said and returned; code is -1 when it crashed or hung.
struct ProgramRun {
    int code = -1;
    QString out;
    QString err;
    // stderr as its lines, the empty ones left out.
    QStringList errLines() const { return err.split(u'\n', Qt::SkipEmptyParts); }
};

// Runs one of the built programs to its end with standard input a pipe (no terminal) that
// holds input, in workingDirectory when one is given. The event loop runs meanwhile, where
// there is one: a simulated site of the test lives in it.
inline ProgramRun RunProgram(
    const QString& program, const QStringList& arguments,
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
    const QByteArray& input = {}, const QString& workingDirectory = {}) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForStarted(-1)) {  // a loaded machine may take long to start it
        return run;
    }
    process.write(input);
    process.closeWriteChannel();
    // Waits on the child's end against the clock, not on a count of polls.
    const QDeadlineTimer deadline(std::chrono::minutes(5));
    while (process.state() != QProcess::NotRunning && !process.waitForFinished(20)) {
        QCoreApplication::processEvents();
        if (deadline.hasExpired()) {
            process.kill();
            process.waitForFinished();
            return run;
        }
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

}  // namespace orvane::test
