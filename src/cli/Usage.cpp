#include "Usage.h"

#include "AddOptions.h"

QString usageText()
{
    return QStringLiteral(
               "Brenmor Ops CLI — Keep your Mac working while you're away.\n"
               "\n"
               "Usage:\n"
               "  brenmor-ops list                          List all tasks\n"
               "  brenmor-ops add [options]                 Add a new task\n"
               "  brenmor-ops remove <name-or-id>           Remove a task\n"
               "  brenmor-ops enable <name-or-id>           Enable a task\n"
               "  brenmor-ops disable <name-or-id>          Disable a task\n"
               "  brenmor-ops status                        Show overall status\n"
               "  brenmor-ops setup-cli                     Install CLI to /usr/local/bin\n"
               "  brenmor-ops history <name-or-id> [-n N]   Show the last runs (default 10)\n"
               "  brenmor-ops logs <name-or-id> [--stderr] [-n N] [-f]\n"
               "                                            Show the log's last lines (default "
               "100)\n"
               "  brenmor-ops run <name-or-id>              Run an installed task now\n"
               "  brenmor-ops next [name-or-id]             Show when tasks run next\n"
               "  brenmor-ops jobs [--all]                  List the other scheduled launchd jobs\n"
               "\n"
               "  list, status, history and next accept --json.\n"
               "\n"
               "Add options:\n"
               "  --name <name>            Task name (required)\n"
               "  --command <command>       Shell command (required)\n") +
           AddOptions::scheduleUsage() +
           QStringLiteral(
               "  --wake                   Wake Mac from sleep before running\n"
               "  --working-dir <path>     Working directory\n"
               "  --env-file <path>        Path to .env file\n"
               "\n"
               "Examples:\n"
               "  brenmor-ops add --name \"Backup\" --command \"rsync -av ~/docs /backup\" --daily "
               "03:00 "
               "--wake\n"
               "  brenmor-ops add --name \"Report\" --command \"./report.sh\" --daily 09:00,17:00\n"
               "  brenmor-ops add --name \"Standup\" --command \"./notify.sh\" --weekly "
               "mon,wed,fri "
               "09:30\n"
               "  brenmor-ops add --name \"Scraper\" --command \"./scrape.sh\" --interval 30\n"
               "  brenmor-ops disable Backup\n"
               "  brenmor-ops list\n");
}

QString versionText()
{
    // The build always names a version (CMake's project version unless overridden); "dev" only
    // for a build configured without one.
    const QString version = QStringLiteral(BRENMOR_VERSION);
    return QStringLiteral("brenmor-ops ") + (version.isEmpty() ? QStringLiteral("dev") : version);
}
