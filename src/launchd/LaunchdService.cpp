#include "LaunchdService.h"

#include "AtomicFile.h"

#include "LaunchctlCall.h"
#include "Locations.h"
#include "RegularFile.h"
#include "Result.h"
#include "RunHistory.h"
#include "ScheduleKinds.h"
#include "WrapperScript.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QLatin1String scriptPrefix("BrenmorOps_");

QString withDefault(const std::optional<QString>& folder, QString fallback)
{
    return folder && !folder->isEmpty() ? *folder : fallback;
}

QString joined(const QString& folder, const QString& name)
{
    return folder + QLatin1Char('/') + name;
}

// Every path in the plist goes through this: a home folder holding & or < must still give a
// plist launchd can read.
QString xmlEscaped(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    escaped.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    escaped.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    escaped.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    escaped.replace(QLatin1Char('\''), QLatin1String("&apos;"));
    return escaped;
}

enum class Privacy { ownerOnly, shared };

// Scripts can reveal the user's commands.
constexpr QFileDevice::Permissions scriptPermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// Creates a folder with its parents; an existing folder is fine. Scripts and logs can reveal
// the user's commands, so their folders are made private; the LaunchAgents folder keeps the
// system's usual mode.
Result<void> makeFolder(const QString& path, Privacy privacy)
{
    if (QFileInfo(path).isDir())
        return {};
    errno = 0;
    const bool made = privacy == Privacy::ownerOnly ? Locations::makePrivateFolder(path).ok()
                                                    : QDir().mkpath(path);
    if (made)
        return {};
    const QString reason = errno != 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                      : QStringLiteral("the folder could not be created");
    return Result<void>::failure(QStringLiteral("Cannot create folder %1: %2").arg(path, reason));
}

using ScheduleKinds::CalendarEntry;

QStringList entryLines(const CalendarEntry& entry)
{
    QStringList lines{QStringLiteral("    <dict>")};
    for (const auto& [key, value] : entry)
        lines << QStringLiteral("        <key>%1</key>").arg(key)
              << QStringLiteral("        <integer>%1</integer>").arg(value);
    lines << QStringLiteral("    </dict>");
    return lines;
}

QStringList scheduleSection(const ScheduleKinds::LaunchTrigger& trigger)
{
    if (trigger.everySeconds)
        return {QStringLiteral("    <key>StartInterval</key>"),
                QStringLiteral("    <integer>%1</integer>").arg(*trigger.everySeconds)};
    if (trigger.atLoad)
        return {};
    const QList<CalendarEntry>& entries = trigger.calendar;
    QStringList lines{QStringLiteral("    <key>StartCalendarInterval</key>")};
    if (entries.size() == 1 && !trigger.calendarAsArray)
        return lines << entryLines(entries.first());
    lines << QStringLiteral("    <array>");
    QStringList body;
    for (const CalendarEntry& entry : entries)
        body << entryLines(entry);
    lines << body.join(QLatin1Char('\n'));
    lines << QStringLiteral("    </array>");
    return lines;
}

// A plist name without the label prefix and ".plist" must be a whole canonical UUID, in
// either letter case, to count as one of ours.
std::optional<QUuid> uuidFromAgentName(const QString& name)
{
    static const QRegularExpression canonical(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    QString rest = name.mid(LaunchdService::labelPrefix().size());
    rest.remove(QStringLiteral(".plist"));
    if (!canonical.match(rest).hasMatch())
        return std::nullopt;
    return QUuid::fromString(rest);
}

// launchd's "Load failed: <code>: <reason>", anywhere in a line of standard error.
std::optional<qint32> loadFailedCode(const QString& line)
{
    static const QRegularExpression loadFailed(QStringLiteral("Load failed: (\\d+):"));
    const QRegularExpressionMatch match = loadFailed.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

// Which of `paths` a message line starts with ("<path>: ..."), or -1.
qsizetype namedPath(const QString& line, const QStringList& paths);

// Whether the regular file at `path` holds exactly `bytes`; a file of another size is not read.
bool holdsBytes(const QString& path, const QByteArray& bytes)
{
    QFile file;
    RegularFile::Stamp stamp;
    if (!RegularFile::open(file, path, &stamp) || stamp.size != bytes.size())
        return false;
    return file.read(bytes.size() + 1) == bytes;
}

// One result per path of a launchctl call for several paths. A line naming a path reports on
// that path: its "Load failed" code, or after a failed call the call's status. Lines naming
// no path count for every path; a failed call that names none failed for all of them (better a
// failure too many than one reported as success).
QList<AgentOutcome> batchResults(const QString& command, const QStringList& paths,
                                 const LaunchdService::LaunchctlRun& run)
{
    const auto failed = [&command](qint32 code) {
        return AgentOutcome::failure(LaunchdError::launchctlFailed(command, code));
    };
    QList<AgentOutcome> results(paths.size());
    bool anyNamed = false;
    AgentOutcome forAll = run.status;
    for (const QString& line : run.errorLines) {
        const std::optional<qint32> code =
            command == QLatin1String("load") ? loadFailedCode(line) : std::nullopt;
        const qsizetype index = namedPath(line, paths);
        if (index < 0) {
            if (code)
                forAll = failed(*code);
            continue;
        }
        anyNamed = true;
        if (code)
            results[index] = failed(*code);
        else if (!run.status.ok())
            results[index] = run.status;
    }
    const bool cannotRun = !run.status.ok() && run.status.error().exitCode == -1;
    if (!forAll.ok() && (cannotRun || !anyNamed || forAll != run.status)) {
        for (AgentOutcome& result : results) {
            if (result.ok())
                result = forAll;
        }
    }
    return results;
}

// Which of `paths` a message line starts with ("<path>: ..."), or -1.
qsizetype namedPath(const QString& line, const QStringList& paths)
{
    const qsizetype colon = line.indexOf(QLatin1String(": "));
    if (colon <= 0)
        return -1;
    return paths.indexOf(line.left(colon));
}

} // namespace

LaunchdError LaunchdError::installFailed(QString text)
{
    LaunchdError error;
    error.kind = Kind::installFailed;
    error.text = std::move(text);
    return error;
}

LaunchdError LaunchdError::launchctlFailed(QString command, qint32 exitCode)
{
    LaunchdError error;
    error.kind = Kind::launchctlFailed;
    error.command = std::move(command);
    error.exitCode = exitCode;
    return error;
}

QString LaunchdError::message() const
{
    if (kind == Kind::installFailed)
        return QLatin1String("Failed to install task: ") + text;
    const QString failed =
        QStringLiteral("launchctl %1 failed (exit code %2)").arg(command).arg(exitCode);
    return text.isEmpty() ? failed : failed + QStringLiteral(": ") + text;
}

QString LaunchdService::scriptVersionMarker()
{
    return QStringLiteral("# BrenmorOps script v%1").arg(scriptVersion);
}

QString LaunchdService::labelPrefix() { return agentLabelPrefix(); }

bool LaunchdService::scriptIsCurrent(const QString& path)
{
    QFile file;
    if (!RegularFile::open(file, path))
        return false;
    // The interpreter line and the marker come first; a command of any length follows them.
    constexpr qint64 headBytes = 4096;
    const QByteArray head = file.read(headBytes);
    const QByteArray marker = scriptVersionMarker().toUtf8();
    const qsizetype start = head.indexOf('\n') + 1;
    if (start == 0)
        return false;
    const qsizetype end = start + marker.size();
    // "v4" must not pass for "v41": the marker is the whole line.
    return head.mid(start, marker.size()) == marker && (end == head.size() || head.at(end) == '\n');
}

AgentPaths::AgentPaths(std::optional<QString> launchAgentsDir, std::optional<QString> scriptsDir,
                       std::optional<QString> logDir)
    : launchAgentsDir(withDefault(launchAgentsDir, Locations::userLaunchAgentsDir())),
      scriptsDir(withDefault(scriptsDir, Locations::scriptsFolder())),
      logDir(withDefault(logDir, Locations::logsFolder()))
{}

QString LaunchdService::label(const ScheduledTask& task) { return labelPrefix() + task.idString(); }

QString AgentPaths::plistPath(const ScheduledTask& task) const
{
    return joined(launchAgentsDir, LaunchdService::label(task) + QLatin1String(".plist"));
}

QString AgentPaths::scriptPath(const ScheduledTask& task) const
{
    return joined(scriptsDir, scriptPrefix + task.shortId() + QLatin1String(".sh"));
}

QString AgentPaths::legacyScriptPath(const ScheduledTask& task) const
{
    return joined(scriptsDir, task.idString() + QLatin1String(".sh"));
}

QString AgentPaths::stdoutLogPath(const ScheduledTask& task) const
{
    return RunHistory::logPath(logDir, task.shortId(), LogStream::stdoutStream);
}

QString AgentPaths::stderrLogPath(const ScheduledTask& task) const
{
    return RunHistory::logPath(logDir, task.shortId(), LogStream::stderrStream);
}

QString AgentPaths::runHistoryPath(const ScheduledTask& task) const
{
    return RunHistory::historyPath(logDir, task.shortId());
}

QString LaunchdService::scriptContent(const ScheduledTask& task) const
{
    return WrapperScript::text(task, m_paths.runHistoryPath(task),
                               WrapperScript::nativeDateDialect());
}

Result<QString> LaunchdService::writeScript(const ScheduledTask& task) const
{
    for (const QString& folder : {m_paths.scriptsDir, m_paths.logDir})
        if (const Result<void> made = makeFolder(folder, Privacy::ownerOnly); !made.ok())
            return Result<QString>::failure(made.error());
    const QString path = m_paths.scriptPath(task);
    const QFileDevice::Permissions ownerOnly = scriptPermissions;
    if (const Result<void> written =
            AtomicFile::write(path, scriptContent(task).toUtf8(), ownerOnly);
        !written.ok())
        return Result<QString>::failure(written.error());
    // The temporary file already carried the mode; setting it on the final name as well
    // covers file systems that do not keep it across the rename.
    if (!QFile::setPermissions(path, ownerOnly))
        return Result<QString>::failure(QStringLiteral("Cannot set permissions of %1").arg(path));
    return path;
}

QString LaunchdService::plistContent(const ScheduledTask& task, const QString& scriptPath) const
{
    // Once: an upgrade asks for thousands of plists, and every install makes the folder anyway.
    if (!m_logFolderMade.done.load(std::memory_order_relaxed))
        m_logFolderMade.done.store(QDir().mkpath(m_paths.logDir), std::memory_order_relaxed);
    QStringList lines{
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
        QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"),
        QStringLiteral("<plist version=\"1.0\">"),
        QStringLiteral("<dict>"),
        QStringLiteral("    <key>Label</key>"),
        QStringLiteral("    <string>%1</string>").arg(label(task)),
        QStringLiteral("    <key>ProgramArguments</key>"),
        QStringLiteral("    <array>"),
        QStringLiteral("        <string>%1</string>").arg(xmlEscaped(scriptPath)),
        QStringLiteral("    </array>"),
    };
    const ScheduleKinds::LaunchTrigger trigger = ScheduleKinds::trigger(task.schedule);
    const QStringList section = scheduleSection(trigger);
    if (section.isEmpty())
        lines << QString();
    else
        lines << section;
    lines << QStringLiteral("    <key>StandardOutPath</key>")
          << QStringLiteral("    <string>%1</string>").arg(xmlEscaped(m_paths.stdoutLogPath(task)))
          << QStringLiteral("    <key>StandardErrorPath</key>")
          << QStringLiteral("    <string>%1</string>").arg(xmlEscaped(m_paths.stderrLogPath(task)))
          << QStringLiteral("    <key>RunAtLoad</key>")
          << (trigger.atLoad ? QStringLiteral("    <true/>") : QStringLiteral("    <false/>"))
          << QStringLiteral("</dict>") << QStringLiteral("</plist>");
    return lines.join(QLatin1Char('\n'));
}

AgentOutcome LaunchdService::install(const ScheduledTask& task) const
{
    return installAll({task}).first();
}

QList<AgentOutcome> LaunchdServiceProtocol::installAll(const QList<ScheduledTask>& tasks) const
{
    QList<AgentOutcome> results;
    for (const ScheduledTask& task : tasks)
        results.append(install(task));
    return results;
}

QList<AgentOutcome> LaunchdServiceProtocol::uninstallAll(const QList<ScheduledTask>& tasks) const
{
    QList<AgentOutcome> results;
    for (const ScheduledTask& task : tasks)
        results.append(uninstall(task));
    return results;
}

QList<AgentOutcome> LaunchdService::installAll(const QList<ScheduledTask>& tasks) const
{
    return installAll(tasks, Reload::always);
}

QList<AgentOutcome> LaunchdService::upgradeAll(const QList<ScheduledTask>& tasks) const
{
    return installAll(tasks, Reload::whenPlistChanges);
}

QList<AgentOutcome> LaunchdService::installAll(const QList<ScheduledTask>& tasks,
                                               Reload reload) const
{
    QList<AgentOutcome> results(tasks.size());
    if (tasks.isEmpty())
        return results;
    // Every file of the call in two batches (scripts, then plists), each with one wait for the
    // disk: after a version change a thousand scripts are rewritten at once.
    for (const QString& folder : {m_paths.scriptsDir, m_paths.logDir}) {
        if (const Result<void> made = makeFolder(folder, Privacy::ownerOnly); !made.ok()) {
            results.fill(AgentOutcome::failure(LaunchdError::installFailed(made.error())));
            return results;
        }
    }
    QList<AtomicFile::Replacement> scripts;
    for (const ScheduledTask& task : tasks)
        scripts.append({m_paths.scriptPath(task), scriptContent(task).toUtf8(), scriptPermissions});
    const QList<Result<void>> written = AtomicFile::writeAll(scripts);

    QStringList loaded; // plists present before: unloaded first
    QList<qsizetype> installing;
    QList<AtomicFile::Replacement> plists;
    const QFileDevice::Permissions plistPermissions =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
        QFileDevice::ReadOther;
    for (qsizetype i = 0; i < tasks.size(); ++i) {
        const QString& script = scripts.at(i).path;
        // The temporary file already carried the mode; setting it on the final name as well
        // covers file systems that do not keep it across the rename.
        if (written.at(i).ok() && !QFile::setPermissions(script, scriptPermissions))
            results[i] = AgentOutcome::failure(LaunchdError::installFailed(
                QStringLiteral("Cannot set permissions of %1").arg(script)));
        else if (!written.at(i).ok())
            results[i] = AgentOutcome::failure(LaunchdError::installFailed(written.at(i).error()));
        if (!results.at(i).ok())
            continue;
        const ScheduledTask& task = tasks.at(i);
        const QString plist = m_paths.plistPath(task);
        QByteArray content = plistContent(task, script).toUtf8();
        if (reload == Reload::whenPlistChanges && holdsBytes(plist, content))
            continue; // loaded from this very plist; the new script runs from the next start
        if (QFileInfo::exists(plist))
            loaded.append(plist);
        installing.append(i);
        plists.append({plist, std::move(content), plistPermissions});
    }
    if (installing.isEmpty())
        return results;
    // The plists are written after the unload, so launchd unloads what it loaded.
    if (!loaded.isEmpty())
        runLaunchctlBatch(QStringLiteral("unload"), loaded); // not loaded is fine
    // A fresh account has no LaunchAgents folder yet.
    if (const Result<void> made = makeFolder(m_paths.launchAgentsDir, Privacy::shared);
        !made.ok()) {
        for (const qsizetype i : std::as_const(installing))
            results[i] = AgentOutcome::failure(LaunchdError::installFailed(made.error()));
        return results;
    }
    const QList<Result<void>> plistsWritten = AtomicFile::writeAll(plists);
    QStringList toLoad;
    QList<qsizetype> loading;
    for (qsizetype k = 0; k < installing.size(); ++k) {
        if (!plistsWritten.at(k).ok()) {
            results[installing.at(k)] =
                AgentOutcome::failure(LaunchdError::installFailed(plistsWritten.at(k).error()));
            continue;
        }
        toLoad.append(plists.at(k).path);
        loading.append(installing.at(k));
    }
    const QList<AgentOutcome> loads = runLaunchctlBatch(QStringLiteral("load"), toLoad);
    for (qsizetype k = 0; k < loading.size(); ++k)
        results[loading.at(k)] = loads.at(k);
    return results;
}

AgentOutcome LaunchdService::uninstall(const ScheduledTask& task) const
{
    const auto unloaded = runLaunchctl({QStringLiteral("unload"), m_paths.plistPath(task)});
    removeFiles(task);
    return unloaded;
}

QList<AgentOutcome> LaunchdService::uninstallAll(const QList<ScheduledTask>& tasks) const
{
    QList<AgentOutcome> results(tasks.size());
    QStringList present;
    QList<qsizetype> unloading;
    for (qsizetype i = 0; i < tasks.size(); ++i) {
        const QString plist = m_paths.plistPath(tasks.at(i));
        if (QFileInfo::exists(plist)) {
            present.append(plist);
            unloading.append(i);
        }
    }
    const QList<AgentOutcome> unloads = runLaunchctlBatch(QStringLiteral("unload"), present);
    for (qsizetype k = 0; k < unloading.size(); ++k)
        results[unloading.at(k)] = unloads.at(k);
    for (const ScheduledTask& task : tasks)
        removeFiles(task);
    return results;
}

void LaunchdService::removeFiles(const ScheduledTask& task) const
{
    QFile::remove(m_paths.plistPath(task));
    QFile::remove(m_paths.scriptPath(task));
    QFile::remove(m_paths.legacyScriptPath(task));
}

LaunchdService::FolderEntries LaunchdService::folderEntries(const QString& folder)
{
    // Names from the listing itself; only a link or an entry of unknown type is looked up, so a
    // folder of thousands of agents costs no stat per file.
    FolderEntries entries;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return entries;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type == DT_DIR)
            continue;
        bool leads = true;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            if (::fstatat(::dirfd(dir), entry->d_name, &info, 0) == 0) {
                if (S_ISDIR(info.st_mode))
                    continue;
            } else if (entry->d_type == DT_UNKNOWN ||
                       ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            } else {
                leads = false; // a link to nothing
            }
        }
        entries.insert(QFile::decodeName(entry->d_name), leads);
    }
    ::closedir(dir);
    return entries;
}

void LaunchdService::removeOrphanedAgents(const QSet<QUuid>& keeping) const
{
    removeOrphans(keeping, folderEntries(m_paths.launchAgentsDir),
                  folderEntries(m_paths.scriptsDir));
}

void LaunchdService::removeOrphans(const QSet<QUuid>& keeping, const FolderEntries& agents,
                                   const FolderEntries& scripts) const
{
    QStringList orphans;
    for (auto it = agents.cbegin(); it != agents.cend(); ++it) {
        const QString& name = it.key();
        if (!name.startsWith(labelPrefix()))
            continue;
        const std::optional<QUuid> id = uuidFromAgentName(name);
        if (id && !keeping.contains(*id))
            orphans.append(name);
    }
    orphans.sort(); // in name order, whatever the listing's
    for (const QString& name : std::as_const(orphans)) {
        const QString path = joined(m_paths.launchAgentsDir, name);
        (void)runLaunchctl({QStringLiteral("unload"), path}); // not loaded is fine
        QFile::remove(path);
    }

    if (scripts.isEmpty())
        return;
    QSet<QString> keptNames;
    keptNames.reserve(2 * keeping.size());
    for (const QUuid& id : keeping)
        keptNames << scriptPrefix + uuidShort(id) << uuidUpper(id);
    for (auto it = scripts.cbegin(); it != scripts.cend(); ++it) {
        const QString& name = it.key();
        // "<name>.sh": the suffix after the last dot, the name before it. Hidden files are
        // not ours.
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot <= 0 || name.startsWith(QLatin1Char('.')) ||
            QStringView(name).mid(dot + 1) != QLatin1String("sh"))
            continue;
        if (!keptNames.contains(name.left(dot)))
            QFile::remove(joined(m_paths.scriptsDir, name));
    }
}

AgentOutcome LaunchdServiceProtocol::reconcile(const QList<ScheduledTask>& tasks,
                                               OlderScripts) const
{
    QSet<QUuid> keeping;
    for (const ScheduledTask& task : tasks)
        keeping.insert(task.id);
    removeOrphanedAgents(keeping);
    return {};
}

namespace {

constexpr qint64 agentFileBound = 4 * 1024 * 1024;

// Whether the file at `path` holds exactly `bytes`. Scripts and plists are small; a larger or
// special file is not ours and is replaced.
bool holds(const QString& path, const QByteArray& bytes)
{
    const Result<QByteArray> read = RegularFile::read(path, agentFileBound);
    return read.ok() && *read == bytes;
}

// Whether there is a script at `path` without the current version marker (of an older
// generation, or changed by hand), which the upgrade pass rewrites.
bool olderScript(const QString& path)
{
    const Result<QByteArray> read = RegularFile::read(path, agentFileBound);
    return read.ok() && !read->contains(LaunchdService::scriptVersionMarker().toUtf8());
}

AgentOutcome firstFailure(const QList<AgentOutcome>& outcomes)
{
    for (const AgentOutcome& outcome : outcomes) {
        if (!outcome.ok())
            return outcome;
    }
    return {};
}

} // namespace

std::optional<QSet<QString>> LaunchdService::loadedLabels() const
{
    constexpr int listTimeoutMs = 30000;
    const LaunchctlCall::Outcome listed =
        LaunchctlCall::run({QStringLiteral("list")}, listTimeoutMs);
    if (!listed.finished || listed.exitCode != 0)
        return std::nullopt;
    // "PID<tab>Status<tab>Label" lines under a heading of the same form.
    QSet<QString> labels;
    const QStringList lines = QString::fromUtf8(listed.standardOutput).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QString label = line.section(QLatin1Char('\t'), -1).trimmed();
        if (label.startsWith(labelPrefix()))
            labels.insert(label);
    }
    return labels;
}

AgentOutcome LaunchdService::reconcile(const QList<ScheduledTask>& tasks,
                                       OlderScripts olderScripts) const
{
    return reconcilePass(tasks, {}, Check::contents, olderScripts);
}

AgentOutcome LaunchdService::reconcileAfterChange(const QList<ScheduledTask>& tasks,
                                                  const QSet<QUuid>& changed) const
{
    return reconcilePass(tasks, changed, Check::presence, OlderScripts::leave);
}

AgentOutcome LaunchdService::reconcilePass(const QList<ScheduledTask>& tasks,
                                           const QSet<QUuid>& skipping, Check check,
                                           OlderScripts olderScripts) const
{
    AtomicFile::removeAbandonedTemporaries(m_paths.launchAgentsDir, labelPrefix());
    AtomicFile::removeAbandonedTemporaries(m_paths.scriptsDir, scriptPrefix);
    QSet<QUuid> keeping;
    for (const ScheduledTask& task : tasks)
        keeping.insert(task.id);
    // Each folder listed once, for the orphans and for the presence of every task's files.
    const FolderEntries agents = folderEntries(m_paths.launchAgentsDir);
    const FolderEntries scripts = folderEntries(m_paths.scriptsDir);
    removeOrphans(keeping, agents, scripts);
    const auto present = [](const FolderEntries& entries, const QString& path) {
        return entries.value(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1), false);
    };

    const std::optional<QSet<QString>> loaded = loadedLabels();
    // An enabled task's agent fits when it is loaded (or launchctl cannot tell) and its files
    // hold what they should, or, checked cheaply, are there.
    const auto fits = [&](const ScheduledTask& task, const QString& plist, const QString& script) {
        if (loaded && !loaded->contains(label(task)))
            return false;
        if (check == Check::presence)
            return present(agents, plist) && present(scripts, script);
        const bool scriptFits = holds(script, scriptContent(task).toUtf8()) ||
                                (olderScripts == OlderScripts::leave && olderScript(script));
        return scriptFits && holds(plist, plistContent(task, script).toUtf8());
    };
    QList<ScheduledTask> installing;
    QList<ScheduledTask> removing;
    std::optional<AgentOutcome> collision;
    QHash<QString, qsizetype> firstWithShortId;
    for (qsizetype i = 0; i < tasks.size(); ++i) {
        const ScheduledTask& task = tasks.at(i);
        // The first of two tasks with one short ID keeps the files; the later is left out.
        const auto first = firstWithShortId.constFind(task.shortId());
        if (first != firstWithShortId.constEnd()) {
            if (task.isEnabled && !collision)
                collision = AgentOutcome::failure(
                    LaunchdError::installFailed(shortIdCollisionMessage(task, tasks.at(*first))));
            continue;
        }
        firstWithShortId.insert(task.shortId(), i);
        if (skipping.contains(task.id))
            continue;
        const QString plist = m_paths.plistPath(task);
        const QString script = m_paths.scriptPath(task);
        if (task.isEnabled) {
            if (!fits(task, plist, script))
                installing.append(task);
        } else if ((loaded && loaded->contains(label(task))) || present(agents, plist) ||
                   present(scripts, script) || present(scripts, m_paths.legacyScriptPath(task))) {
            removing.append(task);
        }
    }
    const AgentOutcome removed = firstFailure(uninstallAll(removing));
    const AgentOutcome installed = firstFailure(installAll(installing));
    if (!installed.ok())
        return installed;
    return collision ? *collision : removed;
}

AgentOutcome LaunchdService::runLaunchctl(const QStringList& arguments) const
{
    const QString command = arguments.value(0);
    const LaunchctlRun run = runLaunchctlProcess(arguments);
    if (!run.status.ok())
        return run.status;
    // The legacy load sub-command reports many failures only on standard error and still
    // exits 0; without this check a job that never loaded would count as installed.
    if (command == QLatin1String("load")) {
        for (const QString& line : run.errorLines) {
            if (const auto code = loadFailedCode(line))
                return AgentOutcome::failure(LaunchdError::launchctlFailed(command, *code));
        }
    }
    return {};
}

QList<AgentOutcome> LaunchdService::runLaunchctlBatch(const QString& command,
                                                      const QStringList& paths) const
{
    QList<AgentOutcome> results;
    // Bounded calls keep the command line well under the system's limit.
    constexpr qsizetype pathsPerCall = 200;
    for (qsizetype first = 0; first < paths.size(); first += pathsPerCall) {
        const QStringList part = paths.mid(first, pathsPerCall);
        const LaunchctlRun run = runLaunchctlProcess(QStringList{command} + part);
        results += batchResults(command, part, run);
    }
    return results;
}

LaunchdService::LaunchctlRun LaunchdService::runLaunchctlProcess(const QStringList& arguments) const
{
    const QString command = arguments.value(0);
    LaunchctlRun run;
    const LaunchctlCall::Outcome call = LaunchctlCall::run(arguments);
    const auto failed = [&command](qint32 code) {
        return AgentOutcome::failure(LaunchdError::launchctlFailed(command, code));
    };
    if (!call.finished)
        run.status = failed(-1);
    else if (call.exitCode != 0)
        run.status = failed(call.exitCode);
    run.errorLines = call.standardError.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // Our launchctl says why it could not reach the agent runner ("launchctl: <why>"); the
    // user sees that rather than a bare status.
    if (!run.status.ok()) {
        static const QLatin1String marker("launchctl: ");
        for (const QString& line : std::as_const(run.errorLines)) {
            if (const qsizetype at = line.indexOf(marker); at >= 0) {
                LaunchdError error = run.status.error();
                error.text = line.mid(at + marker.size());
                run.status = AgentOutcome::failure(error);
                break;
            }
        }
    }
    return run;
}
