#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class QProcess;

// Runs a task's command at once in a child shell, outside launchd and the wrapper script, and
// publishes its combined output as it arrives. Owned by the test run sheet; a runner destroyed
// mid-run lets the child go and drops whatever it still writes.
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

    bool isRunning() const { return m_isRunning; }
    const QString& output() const { return m_output; }
    std::optional<int> exitCode() const { return m_exitCode; }
    // The shell of the last run ("/bin/zsh"), for the sheet's header.
    const QString& shellProgram() const { return m_shellProgram; }

    // Starts a run and returns at once; ignored while a run is going.
    void run(const QString& command, const std::optional<QString>& workingDirectory,
             const std::optional<QString>& envFilePath, bool useLoginShell);
    // Asks the child to end; the normal end of the run follows.
    void stop();

    // The text handed to the shell: the .env file sourced, the folder entered, then the command,
    // joined by " && " so a failing step keeps the command from running.
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
    void appendIfText(const QByteArray& bytes);
    void finish(int exitCode);

    QProcess* m_process = nullptr;
    bool m_isRunning = false;
    QString m_output;
    std::optional<int> m_exitCode;
    QString m_shellProgram;
};
