#pragma once

#include <QObject>
#include <QString>
#include <QStringDecoder>
#include <QStringList>

#include <optional>

class QProcess;

// Runs a task's command at once in a child shell, outside launchd and the wrapper script, and
// publishes its combined output as it arrives. The child runs in a session of its own, without
// the terminal the application may have been started from, and Stop reaches every process it
// started. Only the end of a very long output is kept. Owned by the test run sheet; a runner
// destroyed mid-run lets the child go (asked to end, then killed) and drops what it still writes.
class TaskRunner final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskRunner)

public:
    struct Shell {
        QString program;
        QStringList leadingArguments;
    };

    explicit TaskRunner(QObject* parent = nullptr);
    ~TaskRunner() override;

    // How much of the output is kept, in characters; more cuts the oldest lines.
    static constexpr qsizetype keptOutputChars = 2 * 1024 * 1024;
    // How long a stopped command has to end before its process group is killed.
    static constexpr int killDelayMs = 3000;

    bool isRunning() const { return m_isRunning; }
    // The run's output, at most about keptOutputChars of its end.
    const QString& output() const { return m_output; }
    // Everything the run has printed so far in characters, including what was cut.
    qint64 outputTotal() const { return m_outputTotal; }
    // The oldest output was dropped to keep the output within keptOutputChars.
    bool outputCut() const { return m_outputCut; }
    // Counts the runs started, so a view can tell a new run from more output of the last one.
    int runNumber() const { return m_runNumber; }
    std::optional<int> exitCode() const { return m_exitCode; }
    // The shell of the last run ("/bin/zsh"), for the sheet's header.
    const QString& shellProgram() const { return m_shellProgram; }

    // Starts a run and returns at once; ignored while a run is going.
    void run(const QString& command, const std::optional<QString>& workingDirectory,
             const std::optional<QString>& envFilePath, bool useLoginShell);
    // Asks every process of the run to end (SIGTERM to its group); whatever is left of the group
    // three seconds later is killed, and the output says so. The normal end of the run follows.
    void stop();

    // The text handed to the shell, one step a line: the .env file sourced and the folder
    // entered, each ending the run with its own status when it fails, then the command as it is
    // stored, so every one of its lines runs in the folder with the .env values.
    static QString commandLine(const QString& command,
                               const std::optional<QString>& workingDirectory,
                               const std::optional<QString>& envFilePath);
    // zsh as a login and interactive shell; where the system has no zsh, the user's SHELL (or
    // bash) with the same flags. Without the login shell, plain sh.
    static Shell shellFor(bool useLoginShell);

Q_SIGNALS:
    // isRunning, output or exitCode changed.
    void changed();

private:
    void append(const QString& text);
    void decode(const QByteArray& bytes);
    void finish(int exitCode);

    // One decoder a run, so a character split between two reads arrives whole.
    class StreamDecoder final : public QStringDecoder {
    public:
        StreamDecoder() : QStringDecoder(QStringDecoder::Utf8) {}
        // The stream stopped inside a character.
        bool midCharacter() const { return state.remainingChars > 0; }
    };

    QProcess* m_process = nullptr;
    StreamDecoder m_decoder;
    bool m_isRunning = false;
    QString m_output;
    qint64 m_outputTotal = 0;
    bool m_outputCut = false;
    int m_runNumber = 0;
    bool m_killScheduled = false;
    std::optional<int> m_exitCode;
    QString m_shellProgram;
};
