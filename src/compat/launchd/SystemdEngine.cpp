#include "SystemdEngine.h"

#include "AtomicFile.h"
#include "ChildProcess.h"
#include "JobSpec.h"
#include "Launchctl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr int systemctlTimeoutMs = 60000;
// launchctl start's status for a label nothing has loaded (ESRCH).
constexpr int noSuchJobStatus = 3;

struct SystemctlRun {
    int status = -1;
    QString out;
    QString err;
};

SystemctlRun systemctl(const QStringList& arguments)
{
    SystemctlRun run;
    const ChildProcess::Outcome outcome = ChildProcess::run(
        QStringLiteral("systemctl"), QStringList{QStringLiteral("--user")} + arguments,
        ChildProcess::Options(systemctlTimeoutMs));
    if (!outcome.started || outcome.timedOut) {
        run.err = QStringLiteral("systemctl %1 did not finish").arg(arguments.join(u' '));
        return run;
    }
    run.out = QString::fromUtf8(outcome.standardOutput);
    run.err = QString::fromUtf8(outcome.standardError).trimmed();
    run.status = outcome.finishedNormally ? outcome.exitCode : -1;
    return run;
}

Result<void> systemctlOk(const QStringList& arguments)
{
    const SystemctlRun run = systemctl(arguments);
    if (run.status == 0)
        return {};
    return Result<void>::failure(
        QStringLiteral("systemctl --user %1: %2")
            .arg(arguments.first(), run.err.isEmpty() ? QStringLiteral("failed") : run.err));
}

// `command` on the units; nothing to do without units.
Result<void> systemctlOn(const QStringList& command, const QStringList& units)
{
    return units.isEmpty() ? Result<void>() : systemctlOk(command + units);
}

QString unitPath(const QString& name) { return SystemdEngine::unitFolder() + u'/' + name; }

QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(1024 * 1024));
}

std::optional<QByteArray> readPlist(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

Result<SystemdUnits::Units> translated(const LoadedAgent& agent)
{
    const auto job = parseJobSpec(agent.plist);
    if (!job)
        return Result<SystemdUnits::Units>::failure(job.message());
    const auto units = SystemdUnits::translate(*job, agent.path, QDir::homePath());
    if (!units)
        return Result<SystemdUnits::Units>::failure(units.message());
    return *units;
}

bool installs(const QString& unitText) { return unitText.contains(QLatin1String("\n[Install]\n")); }

} // namespace

QString SystemdEngine::unitFolder()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/systemd/user");
}

QStringList SystemdEngine::loadedLabels() const
{
    QStringList labels;
    const QStringList names =
        QDir(unitFolder())
            .entryList({QStringLiteral("brenmor-ops-*.service")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        // Only the units made from a plist: brenmor-ops-agent-runner.service is not an agent.
        const auto label = SystemdUnits::labelOfUnit(name);
        if (label && !SystemdUnits::plistPathOf(readText(unitPath(name))).isEmpty())
            labels.append(*label);
    }
    return labels;
}

Result<void> SystemdEngine::install(const QList<SystemdUnits::Units>& units)
{
    if (units.isEmpty())
        return {};
    if (!QDir().mkpath(unitFolder()))
        return Result<void>::failure(QStringLiteral("cannot create %1").arg(unitFolder()));
    QList<AtomicFile::Replacement> files;
    QStringList labels;
    QStringList enable;
    QStringList staleTimers;
    QStringList timers;
    QStringList atLoad;
    const QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ReadGroup | QFileDevice::ReadOther;
    for (const SystemdUnits::Units& unit : units) {
        labels.append(unit.label);
        files.append({unitPath(unit.serviceName), unit.service.toUtf8(), mode});
        if (installs(unit.service))
            enable.append(unit.serviceName);
        if (unit.runAtLoad)
            atLoad.append(unit.serviceName);
        if (unit.timer.isEmpty()) {
            if (QFileInfo::exists(unitPath(unit.timerName)))
                staleTimers.append(unit.timerName);
            continue;
        }
        files.append({unitPath(unit.timerName), unit.timer.toUtf8(), mode});
        enable.append(unit.timerName);
        timers.append(unit.timerName);
    }
    // A reloaded agent that lost its schedule loses its timer.
    (void)systemctlOn(
        {QStringLiteral("disable"), QStringLiteral("--no-reload"), QStringLiteral("--now")},
        staleTimers);
    for (const QString& name : std::as_const(staleTimers))
        QFile::remove(unitPath(name));
    Result<void> done;
    for (const Result<void>& written : AtomicFile::writeAll(files)) {
        if (done.ok() && !written.ok())
            done = written;
    }
    if (done.ok())
        done = systemctlOk({QStringLiteral("daemon-reload")});
    if (done.ok())
        done = systemctlOn({QStringLiteral("enable"), QStringLiteral("--no-reload")}, enable);
    // restart: a reloaded agent's interval counts from this load, as with launchd.
    if (done.ok())
        done = systemctlOn({QStringLiteral("restart")}, timers);
    if (done.ok())
        done = systemctlOn({QStringLiteral("start"), QStringLiteral("--no-block")}, atLoad);
    // Never half-loaded: what the manager did not take is removed again.
    if (!done.ok())
        (void)remove(labels);
    return done;
}

Result<void> SystemdEngine::remove(const QStringList& labels)
{
    QStringList present;
    QStringList disable;
    for (const QString& label : labels) {
        const QString base = SystemdUnits::unitBaseName(label);
        for (const QString& suffix : {QStringLiteral(".timer"), QStringLiteral(".service")}) {
            const QString name = base + suffix;
            if (!QFileInfo::exists(unitPath(name)))
                continue;
            present.append(name);
            if (installs(readText(unitPath(name))))
                disable.append(name);
        }
    }
    if (present.isEmpty())
        return {};
    // Timers first, so none starts a service on its way out; a run in progress is stopped, as
    // launchd stops a job it unloads.
    Result<void> done = systemctlOn({QStringLiteral("stop")}, present);
    if (const Result<void> disabled =
            systemctlOn({QStringLiteral("disable"), QStringLiteral("--no-reload")}, disable);
        done.ok())
        done = disabled;
    // A failed service would otherwise stay listed after its file is gone.
    (void)systemctl(QStringList{QStringLiteral("reset-failed")} + present);
    for (const QString& name : std::as_const(present))
        QFile::remove(unitPath(name));
    if (const Result<void> reloaded = systemctlOk({QStringLiteral("daemon-reload")}); done.ok())
        done = reloaded;
    return done;
}

int SystemdEngine::load(const QStringList& paths, QTextStream& err)
{
    int status = 0;
    QList<SystemdUnits::Units> units;
    QStringList sent;
    const auto report = [&](const QString& path) -> QTextStream& {
        if (paths.size() > 1)
            err << path << ": ";
        return err;
    };
    for (const QString& path : paths) {
        const auto bytes = readPlist(path);
        const auto unit = bytes ? translated({path, *bytes, QString()})
                                : Result<SystemdUnits::Units>::failure(QString());
        if (!unit) {
            if (!unit.error().isEmpty())
                err << "launchctl: " << path << ": " << unit.error() << '\n';
            report(path) << Launchctl::loadFailedMessage() << '\n';
            status = Launchctl::loadFailedStatus;
            continue;
        }
        units.append(*unit);
        sent.append(path);
    }
    if (const Result<void> installed = install(units); !installed.ok()) {
        for (const QString& path : std::as_const(sent))
            report(path) << "launchctl: " << installed.error() << '\n';
        status = Launchctl::loadFailedStatus;
    }
    return status;
}

int SystemdEngine::unload(const QStringList& paths, QTextStream& err)
{
    QStringList labels;
    for (const QString& path : paths) {
        // The label comes from the plist while it is readable, else from the unit made of it.
        QString label;
        if (const auto bytes = readPlist(path)) {
            if (const auto job = parseJobSpec(*bytes))
                label = job->label;
        }
        const QStringList loaded = loadedLabels();
        if (!loaded.contains(label)) {
            label.clear();
            for (const QString& candidate : loaded) {
                const QString unit =
                    SystemdUnits::unitBaseName(candidate) + QLatin1String(".service");
                if (SystemdUnits::plistPathOf(readText(unitPath(unit))) == path)
                    label = candidate;
            }
        }
        if (label.isEmpty()) {
            if (paths.size() > 1)
                err << path << ": ";
            err << Launchctl::notFoundMessage() << '\n';
            continue;
        }
        labels.append(label);
    }
    if (const Result<void> removed = remove(labels); !removed.ok()) {
        err << "launchctl: " << removed.error() << '\n';
        return Launchctl::loadFailedStatus;
    }
    return 0;
}

int SystemdEngine::list(QTextStream& out, QTextStream& err)
{
    const QStringList labels = loadedLabels();
    QList<RunnerProtocol::JobStatus> jobs;
    if (!labels.isEmpty()) {
        QStringList arguments{QStringLiteral("show"), QStringLiteral("--property=Id,MainPID,"
                                                                     "ExecMainCode,"
                                                                     "ExecMainStatus")};
        for (const QString& label : labels)
            arguments.append(SystemdUnits::unitBaseName(label) + QLatin1String(".service"));
        const SystemctlRun run = systemctl(arguments);
        if (run.status != 0) {
            err << "launchctl: systemctl --user show: " << run.err << '\n';
            return 1;
        }
        // One block of NAME=value lines per unit, separated by an empty line.
        for (const QString& block : run.out.split(QStringLiteral("\n\n"), Qt::SkipEmptyParts)) {
            QMap<QString, QString> values;
            for (const QString& line : block.split(u'\n', Qt::SkipEmptyParts))
                values.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
            const auto label = SystemdUnits::labelOfUnit(values.value(QStringLiteral("Id")));
            if (!label)
                continue;
            const int code = values.value(QStringLiteral("ExecMainCode")).toInt();
            const int number = values.value(QStringLiteral("ExecMainStatus")).toInt();
            // launchd shows a run ended by a signal as minus the signal's number; systemd's
            // code 1 is a normal exit (CLD_EXITED), 2 and 3 a signal (CLD_KILLED, CLD_DUMPED).
            jobs.append({*label, values.value(QStringLiteral("MainPID")).toLongLong(),
                         code == 2 || code == 3 ? -number : number});
        }
    }
    std::sort(jobs.begin(), jobs.end(),
              [](const auto& a, const auto& b) { return a.label < b.label; });
    out << RunnerProtocol::formatList(jobs);
    return 0;
}

int SystemdEngine::start(const QString& label, QTextStream& err)
{
    const QString service = SystemdUnits::unitBaseName(label) + QLatin1String(".service");
    if (!QFileInfo::exists(unitPath(service))) {
        err << Launchctl::notFoundMessage() << '\n';
        return noSuchJobStatus;
    }
    if (const Result<void> started =
            systemctlOk({QStringLiteral("start"), QStringLiteral("--no-block"), service});
        !started.ok()) {
        err << "launchctl: " << started.error() << '\n';
        return 1;
    }
    return 0;
}

Result<QList<LoadedAgent>> SystemdEngine::loadedAgents()
{
    QList<LoadedAgent> agents;
    for (const QString& label : loadedLabels()) {
        const QString unit =
            unitPath(SystemdUnits::unitBaseName(label) + QLatin1String(".service"));
        const QString plist = SystemdUnits::plistPathOf(readText(unit));
        const auto bytes = readPlist(plist);
        if (!bytes)
            return Result<QList<LoadedAgent>>::failure(
                QStringLiteral("%1: cannot read the plist %2 that %3 was made from")
                    .arg(label, plist, unit));
        agents.append({plist, *bytes, label});
    }
    return agents;
}

Result<void> SystemdEngine::canAdopt(const QList<LoadedAgent>& agents)
{
    for (const LoadedAgent& agent : agents) {
        if (const auto units = translated(agent); !units)
            return Result<void>::failure(agent.path + QStringLiteral(": ") + units.error());
    }
    return {};
}

Result<void> SystemdEngine::adopt(const QList<LoadedAgent>& agents)
{
    QList<SystemdUnits::Units> units;
    for (const LoadedAgent& agent : agents) {
        const auto unit = translated(agent);
        if (!unit)
            return Result<void>::failure(agent.path + QStringLiteral(": ") + unit.error());
        units.append(*unit);
    }
    return install(units);
}

Result<void> SystemdEngine::release(const QList<LoadedAgent>& agents)
{
    QStringList labels;
    for (const LoadedAgent& agent : agents)
        labels.append(agent.label);
    return remove(labels);
}
