#pragma once

#include "Preflight.h"
#include "TaskFormState.h"

#include <QWidget>

#include <QHash>
#include <QStringList>

class Dialogs;
class QCheckBox;
class QComboBox;
class QDialog;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QVBoxLayout;

// The form both task sheets show: the "Basic", "Schedule" and "Environment" sections over one
// TaskFormState. Controls of other schedule kinds are hidden, not reset, so switching back
// shows what the user had chosen. Choosers and the command builders open through `Dialogs`.
class TaskFormView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskFormView)

public:
    // Quiet time after an edit before the task is checked again.
    static constexpr int preflightDelayMs = 300;

    TaskFormView(Dialogs& dialogs, TaskFormState state, QWidget* parent = nullptr);

    const TaskFormState& state() const { return m_state; }

    // The mail step's result: the command replaces the form's; the name fills an empty one.
    void applyMailTemplate(const QString& command, const QString& suggestedName);
    void applyShortcut(const QString& shortcutName);

    // Lays out a task sheet: this form scrolling above `buttons`, starting 520 wide and 640 high
    // but never taller than the screen or the window the sheet belongs to; the user resizes it.
    void placeInSheet(QDialog& sheet, QHBoxLayout* buttons);
    // A button of a sheet's bottom row; its label is also its accessible name.
    static QPushButton* sheetButton(const QString& text, const QString& objectName,
                                    QWidget* parent);
    // The style's space between two push buttons side by side, as its dialogs use.
    static int sheetButtonSpacing(const QWidget* sheet);

Q_SIGNALS:
    void stateChanged();

private:
    QWidget* makeBasicSection();
    QWidget* makeScheduleSection();
    QWidget* makeEnvironmentSection();
    QLabel* caption(const QString& text, const QString& objectName = QString());
    QPushButton* linkButton(const QString& text, const QString& symbol, const QString& objectName);
    void rebuildTimes();
    void chooseWorkingDirectory();
    void chooseEnvFile();
    void openMailTemplate();
    void openShortcutsPicker();
    // Writes a change into the state, then shows it and tells the sheet.
    template <typename Change> void change(Change&& apply);
    void refresh();
    // Checks what launchd will meet once the user stops typing; the answer is shown only if no
    // later edit has started another check.
    void schedulePreflight();
    void runPreflight();
    void showFindings(const QList<Preflight::Finding>& findings);
    // A message under a field; hidden while it has no text.
    QLabel* fieldMessage(const QString& objectName);

    Dialogs& m_dialogs;
    TaskFormState m_state;

    QLineEdit* m_name = nullptr;
    QLabel* m_nameMessage = nullptr;
    QLabel* m_commandMessage = nullptr;
    // The preflight's findings next to the field they are about.
    QHash<Preflight::Field, QLabel*> m_fieldFindings;
    QPlainTextEdit* m_command = nullptr;
    QLabel* m_commandPlaceholder = nullptr;
    QComboBox* m_scheduleKind = nullptr;
    QLabel* m_runAtLoadCaption = nullptr;
    QWidget* m_intervalRow = nullptr;
    QComboBox* m_interval = nullptr;
    QLabel* m_intervalCaption = nullptr;
    QWidget* m_weekdayRow = nullptr;
    QList<QPushButton*> m_weekdayButtons;
    // The controls of the kinds of a group and of the fields they use; the second picker lists
    // the kinds of one group (m_shownGroup).
    QWidget* m_monthlyBox = nullptr;
    QWidget* m_groupRow = nullptr;
    QComboBox* m_monthlyType = nullptr;
    QString m_shownGroup;
    QWidget* m_dayRow = nullptr;
    QComboBox* m_day = nullptr;
    QLabel* m_shortMonths = nullptr;
    QLabel* m_lastDayCaption = nullptr;
    QWidget* m_nthRow = nullptr;
    QComboBox* m_nthWeek = nullptr;
    QComboBox* m_nthWeekday = nullptr;
    QWidget* m_timeList = nullptr;
    QVBoxLayout* m_timeRows = nullptr;
    QPushButton* m_addTime = nullptr;
    QCheckBox* m_wake = nullptr;
    QLabel* m_wakeCaption = nullptr;
    QLineEdit* m_workingDirectory = nullptr;
    QLineEdit* m_envFile = nullptr;
    QCheckBox* m_loginShell = nullptr;
    QLabel* m_loginShellCaption = nullptr;
    QPushButton* m_gmailTemplate = nullptr;
    QWidget* m_preflight = nullptr;
    QTimer* m_preflightTimer = nullptr;
    int m_preflightGeneration = 0;
    bool m_refreshing = false;
};
