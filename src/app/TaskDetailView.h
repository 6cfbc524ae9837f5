#pragma once

#include "RunHistory.h"
#include "ScheduledTask.h"
#include "TaskDetailLoader.h"

#include <QScrollArea>
#include <QSet>

#include <memory>
#include <optional>

class LogsWatcher;
class QButtonGroup;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class TaskStore;
class ToggleSwitch;

// Everything about one task: its state and actions, command, environment, schedule and wake
// status, recent runs and output, and the two files installing it produced. The history, the
// output and the files are read beside the window (TaskDetailLoader) when the view is built, on
// the refresh button, and whenever the agents write to them (within a second); until the first
// answer each part says it is loading, later answers replace only the parts that changed. The
// view follows its own task in the store: a change of it is shown in place, keeping the
// focused control, the chosen output stream and the scroll position; other tasks' changes do
// nothing here.
class TaskDetailView final : public QScrollArea {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskDetailView)

public:
    static constexpr int historyLimit = TaskDetailLoader::historyLimit;
    static constexpr int outputLinesRead = TaskDetailLoader::outputLinesRead;
    static constexpr int outputLinesShown = 30;
    static constexpr int fullLogLines = TaskDetailLoader::fullLogLines;
    static constexpr int copiedResetMs = 1500;

    TaskDetailView(TaskStore& store, const ScheduledTask& task, QWidget* parent = nullptr);
    // The same, reading through `loader` (tests that hold a reading).
    TaskDetailView(TaskStore& store, const ScheduledTask& task,
                   std::unique_ptr<TaskDetailLoader> loader, QWidget* parent = nullptr);
    ~TaskDetailView() override;

    const ScheduledTask& task() const { return m_task; }
    // Shows `task`, a newer state of the same task, without leaving the place the user is at.
    void setTask(const ScheduledTask& task);
    bool showCopied() const { return m_showCopied; }
    LogStream selectedLogTab() const { return m_selectedLogTab; }
    void setSelectedLogTab(LogStream stream);
    // Reads the history, the output, the script and the plist again.
    void refresh();
    // Whether the files shown are being read (for the first time, or again).
    bool isLoading() const { return !m_shown || m_loader->isLoading(); }
    const TaskDetailLoader& loader() const { return *m_loader; }
    void copyCommand();
    // Reads the last fullLogLines lines of the chosen log, then opens them in a sheet.
    void showFullLog();

    // The "Shell:" text for an installed script's text (nothing: the script cannot be read).
    static QString shellDescription(const std::optional<QString>& scriptText);

Q_SIGNALS:
    void testRunRequested(const ScheduledTask& task);
    void editRequested(const ScheduledTask& task);
    void duplicateRequested(const ScheduledTask& task);
    void deleteRequested(const ScheduledTask& task);
    // A reading of the files was shown.
    void filesShown();

private:
    QWidget* makeHeader();
    QWidget* makeCommand();
    QWidget* makeEnvironment();
    QWidget* makeSchedule();
    QWidget* makeHistory();
    QWidget* makeOutput();
    QWidget* makeScript();
    QWidget* makePlist();
    QWidget* section(const QString& title, const QString& symbol, QWidget* trailing = nullptr,
                     QVBoxLayout** body = nullptr);
    void showFiles(const TaskDetailData& data);
    void showHistory(const TaskDetailData& data);
    void showOutput();
    void showScript(const std::optional<QString>& script);
    void showPlist(const std::optional<QString>& xml);
    void openFullLog(const QUuid& taskId, LogStream stream, const QString& text);
    // Follows the store: a new state of the shown task.
    void followStore();
    // Looks for a missing working directory or .env file beside the window.
    void checkEnvironment();
    void askWakeStatus();
    void showWakeStatus(bool scheduled);
    void setShowCopied(bool copied);
    // Shows whether an operation on the task runs; a refused change puts the switch back.
    void followBusy();
    void onFileChanged(const QString& path);

    TaskStore& m_store;
    ScheduledTask m_task;
    TaskDetailLoader* m_loader = nullptr;
    // The reading shown; nothing until the first answer.
    std::optional<TaskDetailData> m_shown;
    // The task's files the logs watcher reports on.
    QSet<QString> m_taskFiles;
    LogStream m_selectedLogTab = LogStream::stdoutStream;
    bool m_showCopied = false;
    // Set to false when the view goes, so a wake answer arriving later is dropped.
    std::shared_ptr<bool> m_alive;

    QToolButton* m_copyButton = nullptr;
    ToggleSwitch* m_enabledToggle = nullptr;
    QProgressBar* m_busy = nullptr;
    QLabel* m_wakeLine = nullptr;
    QLabel* m_shell = nullptr;
    QLabel* m_directoryFinding = nullptr;
    QLabel* m_envFileFinding = nullptr;
    // The sections setTask replaces: header, command, environment and schedule.
    QList<QWidget*> m_taskSections;
    QVBoxLayout* m_historyBody = nullptr;
    QVBoxLayout* m_outputBody = nullptr;
    QVBoxLayout* m_scriptBody = nullptr;
    QVBoxLayout* m_plistBody = nullptr;
    QButtonGroup* m_logTabs = nullptr;
    LogsWatcher* m_watcher = nullptr;
};
