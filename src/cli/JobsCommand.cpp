#include "Commands.h"
#include "Console.h"
#include "LaunchdBrowser.h"
#include "ReadOnlyArgs.h"
#include "TextTable.h"

namespace {
const QString usage = QStringLiteral("Usage: brenmor-ops jobs [--all]");

// Jobs that start on their own. A job with nothing but a Label and a program only runs when
// something asks launchd for it, and a disabled one not at all; --all lists those too.
bool runsOnItsOwn(const LaunchdJob& job)
{
    return !job.disabled &&
           (job.startInterval || job.startCalendarInterval || job.runAtLoad || job.keepAlive);
}

class JobsCommand final : public Command {
public:
    int execute(const QStringList& args, CommandContext& context) override
    {
        const auto parsed = parseReadOnlyArgs(args, {QStringLiteral("--all")}, std::nullopt, usage,
                                              context.console);
        if (!parsed)
            return 1;
        if (!parsed->nameOrId.isEmpty()) {
            context.console.error(usage);
            return 1;
        }
        const bool all = parsed->has(QStringLiteral("--all"));
        const QList<LaunchdJob> jobs = LaunchdBrowser().scanJobs(LaunchdBrowser::Content::schedule);
        QList<QStringList> rows;
        // Grown once: with thousands of jobs each regrowth would free a block large enough to
        // make the allocator tidy up every small block freed before it.
        rows.reserve(jobs.size());
        for (const LaunchdJob& job : jobs) {
            if (!all && !runsOnItsOwn(job))
                continue;
            QString schedule = job.scheduleDescription();
            if (job.disabled)
                schedule += QStringLiteral(" (disabled)");
            // Any program may place a plist: its label is shown, never obeyed by the terminal.
            rows << QStringList{terminalText(job.label), terminalText(schedule),
                                LaunchdJob::sourceName(job.source)};
        }
        if (rows.isEmpty()) {
            context.console.print(all ? QStringLiteral("No launchd jobs found.")
                                      : QStringLiteral("No scheduled launchd jobs found."));
            return 0;
        }
        context.console.printRaw(formatTable(
            {QStringLiteral("Label"), QStringLiteral("Schedule"), QStringLiteral("Source")}, rows));
        return 0;
    }
};
} // namespace

std::unique_ptr<Command> makeJobsCommand() { return std::make_unique<JobsCommand>(); }
