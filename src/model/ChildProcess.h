#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

class QProcess;

// Every program we start goes through here. A child leads a session of its own: a Ctrl-C or a
// hang-up in the terminal that started us does not reach it, and it cannot read that terminal.
namespace ChildProcess {

// Makes `process` start its child as the leader of a new session. (startDetached makes a new
// session for its child by itself; Qt 6.4 calls no modifier there.)
void startInOwnSession(QProcess& process);

enum class Session {
    own,    // a session of its own (the rule)
    caller, // ours, terminal included: only for what must ask for a password on that terminal
};

enum class Output {
    captured,  // standard output and standard error each kept in the outcome
    merged,    // both kept together in standardOutput
    discarded, // both to the null device
    forwarded, // both to our own standard output and standard error
};

struct Options {
    explicit Options(int timeoutMs = -1, Output output = Output::captured)
        : timeoutMs(timeoutMs), output(output)
    {}

    int timeoutMs = -1; // -1: as long as it takes
    Output output = Output::captured;
    std::optional<QProcessEnvironment> environment; // ours when not given
    Session session = Session::own;
};

struct Outcome {
    bool started = false;
    // Past the time limit: killed (in its own session, with what it started) and reaped.
    bool timedOut = false;
    bool finishedNormally = false; // it exited, rather than being killed or crashing
    int exitCode = -1;             // -1 unless finishedNormally
    QByteArray standardOutput;
    QByteArray standardError;
    QString errorString; // why it did not start

    bool succeeded() const { return finishedNormally && exitCode == 0; }
};

// Runs `program` with `arguments` to its end, its standard input the null device. A child that
// outlasts the time limit is killed and waited for, so none is left behind unreaped.
Outcome run(const QString& program, const QStringList& arguments,
            const Options& options = Options());

} // namespace ChildProcess
