#pragma once

#include "ScheduledTask.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TaskRunner;

// The "Test Run" sheet: runs a task's command (saved or still in the form) once it is shown and
// follows its output live, keeping only the end of a very long one. Close and Run Again appear
// once the run has ended; while it runs the only way out is Stop, which always ends it.
class TestRunView final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TestRunView)

public:
    // Only the command, working directory, .env file and login-shell flag of `task` are used.
    explicit TestRunView(const ScheduledTask& task, QWidget* parent = nullptr);
    ~TestRunView() override;

    TaskRunner* runner() const { return m_runner; }

public Q_SLOTS:
    void runAgain();
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    // Brings the output area up to the runner's output; a burst of reads is shown at once.
    void showOutput();

    ScheduledTask m_task;
    TaskRunner* m_runner = nullptr;
    bool m_started = false;
    QLabel* m_shell = nullptr;
    QProgressBar* m_spinner = nullptr;
    QLabel* m_runningText = nullptr;
    QLabel* m_headerStatus = nullptr;
    QLabel* m_cutNote = nullptr;
    QPlainTextEdit* m_output = nullptr;
    QTimer* m_outputTimer = nullptr;
    int m_shownRun = 0;
    qint64 m_shownTotal = 0;
    QLabel* m_footerStatus = nullptr;
    QLabel* m_exitLabel = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_runAgain = nullptr;
};
