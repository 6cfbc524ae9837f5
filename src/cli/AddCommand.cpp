#include "AddOptions.h"
#include "CLITaskStore.h"
#include "Commands.h"
#include "Console.h"
#include "Preflight.h"
#include "TaskListCommand.h"
#include "TextTable.h"

namespace {
class AddCommand final : public TaskListCommand {
protected:
    bool prepare(const QStringList& args, const CommandContext& context) override
    {
        const AddOptions::Options options = AddOptions::parseOptions(args);
        if (options.name.value_or(QString()).isEmpty()) {
            context.console.error(QStringLiteral("--name is required"));
            return false;
        }
        // A name with no visible character would be a blank row in the application; the name
        // is otherwise stored as typed, spaces and all.
        if (options.name->trimmed().isEmpty()) {
            context.console.error(QStringLiteral("--name must not be blank"));
            return false;
        }
        if (options.command.value_or(QString()).isEmpty()) {
            context.console.error(QStringLiteral("--command is required"));
            return false;
        }
        if (const Result<void> decodable = AddOptions::checkDecodable(options); !decodable.ok()) {
            context.console.error(decodable.message());
            return false;
        }
        const AddOptions::ScheduleResult parsed = AddOptions::parseSchedule(args);
        for (const QString& message : parsed.messages)
            context.console.error(message);
        if (!parsed.schedule) {
            context.console.error(AddOptions::scheduleRequiredMessage());
            return false;
        }
        m_task = ScheduledTask::create(*options.name, *options.command, *parsed.schedule);
        m_task.workingDirectory = options.workingDirectory;
        m_task.envFilePath = options.envFile;
        m_task.useLoginShell = true;
        m_task.wakeBeforeRun = options.wake;
        m_task.isEnabled = true;
        for (const QString& finding : Preflight::check(m_task))
            context.console.warning(finding);
        return true;
    }

    OperationResult perform(const TaskOperations& operations) override
    {
        return operations.add(m_task);
    }
    QString successLine(const OperationReport& report) const override
    {
        const ScheduledTask& task = report.stored.constFirst();
        return QStringLiteral("Added task: %1 (%2)")
            .arg(terminalText(task.name), task.schedule.summary());
    }

private:
    ScheduledTask m_task;
};
} // namespace

std::unique_ptr<Command> makeAddCommand() { return std::make_unique<AddCommand>(); }
