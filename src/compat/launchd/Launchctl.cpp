#include "Launchctl.h"

#include "JobSpec.h"
#include "RunnerPaths.h"
#include "RunnerProtocol.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>

namespace Launchctl {

namespace {

constexpr int startupTimeoutMs = 10000;
constexpr int replyTimeoutMs = 30000;

QString usage()
{
    return QStringLiteral("Usage: launchctl <subcommand> ...\n"
                          "Subcommands:\n"
                          "\tload <plist>...     Load the agents in the property lists.\n"
                          "\tunload <plist>...   Unload the agents in the property lists.\n"
                          "\tlist                List the loaded agents.\n");
}

// Whoever made the runtime folder or the socket would receive every request, plists and all:
// connect only when both are the caller's alone. Empty when connecting is safe.
QString unsafeRunnerEndpoint()
{
    const QString problem = RunnerPaths::privateEntryProblem(RunnerPaths::runtimeFolder(), true);
    if (!problem.isEmpty())
        return problem;
    return RunnerPaths::privateEntryProblem(RunnerPaths::socketFile(), false);
}

// False with `error` set when the endpoint is refused; false with it empty when nobody answers.
bool connectTo(QLocalSocket& socket, QString* error)
{
    *error = unsafeRunnerEndpoint();
    if (!error->isEmpty())
        return false;
    socket.connectToServer(RunnerPaths::socketFile());
    return socket.waitForConnected(1000);
}

bool startRunner(const QString& programFolder, QString* error)
{
    *error = RunnerPaths::ensureRuntimeFolder();
    if (!error->isEmpty())
        return false;
    QProcess process;
    process.setProgram(RunnerPaths::runnerProgram(programFolder));
    // The runner outlives launchctl; it must not hold the caller's pipes open.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        *error = QStringLiteral("cannot start %1").arg(process.program());
        return false;
    }
    return true;
}

bool connectOrStart(QLocalSocket& socket, const QString& programFolder, QString* error)
{
    if (connectTo(socket, error))
        return true;
    if (!error->isEmpty() || !startRunner(programFolder, error))
        return false;
    const QDeadlineTimer deadline(startupTimeoutMs);
    while (!deadline.hasExpired()) {
        if (connectTo(socket, error))
            return true;
        if (!error->isEmpty())
            return false;
        QThread::msleep(50);
    }
    *error = QStringLiteral("the agent runner did not answer");
    return false;
}

std::optional<QByteArray> readPlist(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

QStringList pathArguments(const QStringList& arguments)
{
    QStringList paths;
    for (const QString& argument : arguments) {
        // -w and -F change launchd's override database, which the runner does not keep.
        if (argument == QLatin1String("-w") || argument == QLatin1String("-F"))
            continue;
        paths.append(QFileInfo(argument).absoluteFilePath());
    }
    return paths;
}

// With several paths each message names its path first, so a caller loading many agents in one
// call can tell which of them failed; a single path keeps launchd's bare message.
QTextStream& report(QTextStream& err, const QStringList& paths, const QString& path)
{
    if (paths.size() > 1)
        err << path << ": ";
    return err;
}

// Sends the jobs in parts of bounded size, one request each; returns one result object per job,
// or an empty object for the jobs of a part that got no answer (with `error` saying why).
QList<QJsonObject> requestJobs(const QList<RunnerProtocol::JobRequest>& jobs, bool loading,
                               const QString& programFolder, QString* error)
{
    constexpr qsizetype maxPartBytes = 4 * 1024 * 1024;
    QList<QJsonObject> results;
    qsizetype first = 0;
    while (first < jobs.size()) {
        qsizetype end = first;
        qsizetype bytes = 0;
        do {
            bytes += jobs.at(end).plist.size() + jobs.at(end).path.size();
            ++end;
        } while (end < jobs.size() && bytes < maxPartBytes);
        const QList<RunnerProtocol::JobRequest> part = jobs.mid(first, end - first);
        const auto reply = request(loading ? RunnerProtocol::loadRequest(part)
                                           : RunnerProtocol::unloadRequest(part),
                                   programFolder, error);
        QList<QJsonObject> partResults =
            reply ? RunnerProtocol::resultsOf(*reply) : QList<QJsonObject>();
        // A reply that does not account for every job counts as none for the missing ones.
        partResults.resize(part.size());
        if (reply && error->isEmpty() && partResults.contains(QJsonObject()))
            *error = QStringLiteral("no answer from the agent runner");
        results += partResults;
        first = end;
    }
    return results;
}

int load(const QStringList& paths, QTextStream& err, const QString& programFolder)
{
    int status = 0;
    QList<RunnerProtocol::JobRequest> jobs;
    QStringList sent;
    for (const QString& path : paths) {
        const auto bytes = readPlist(path);
        if (!bytes || std::holds_alternative<JobSpecError>(parseJobSpec(*bytes))) {
            report(err, paths, path) << loadFailedMessage() << '\n';
            status = loadFailedStatus;
            continue;
        }
        jobs.append({path, *bytes, QString()});
        sent.append(path);
    }
    QString error;
    const QList<QJsonObject> results = requestJobs(jobs, true, programFolder, &error);
    for (qsizetype i = 0; i < sent.size(); ++i) {
        const QJsonObject& result = results.at(i);
        if (result.isEmpty()) {
            report(err, paths, sent.at(i)) << "launchctl: " << error << '\n';
            status = loadFailedStatus;
        } else if (!result.value(QStringLiteral("ok")).toBool()) {
            report(err, paths, sent.at(i)) << loadFailedMessage() << '\n';
            status = loadFailedStatus;
        }
    }
    return status;
}

int unload(const QStringList& paths, QTextStream& err, const QString& programFolder)
{
    int status = 0;
    QList<RunnerProtocol::JobRequest> jobs;
    for (const QString& path : paths) {
        // The label comes from the file when it is still readable, else the path identifies
        // the job as it was loaded.
        QString label;
        if (const auto bytes = readPlist(path)) {
            auto parsed = parseJobSpec(*bytes);
            if (const auto* definition = std::get_if<JobSpec>(&parsed))
                label = definition->label;
        }
        jobs.append({path, QByteArray(), label});
    }
    QString error;
    const QList<QJsonObject> results = requestJobs(jobs, false, programFolder, &error);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QJsonObject& result = results.at(i);
        if (result.isEmpty()) {
            report(err, paths, paths.at(i)) << "launchctl: " << error << '\n';
            status = loadFailedStatus;
        } else if (!result.value(QStringLiteral("found")).toBool()) {
            report(err, paths, paths.at(i)) << notFoundMessage() << '\n';
        }
    }
    return status;
}

int list(QTextStream& out, QTextStream& err, const QString& programFolder)
{
    QString error;
    const auto reply = request(RunnerProtocol::listRequest(), programFolder, &error);
    if (!reply) {
        err << "launchctl: " << error << '\n';
        return 1;
    }
    out << RunnerProtocol::formatList(RunnerProtocol::jobsOf(*reply));
    return 0;
}

} // namespace

QString loadFailedMessage() { return QStringLiteral("Load failed: 5: Input/output error"); }

QString notFoundMessage() { return QStringLiteral("Could not find specified service"); }

std::optional<QJsonObject> request(const QJsonObject& message, const QString& programFolder,
                                   QString* error)
{
    QLocalSocket socket;
    if (!connectOrStart(socket, programFolder, error))
        return std::nullopt;
    socket.write(RunnerProtocol::encode(message));
    socket.flush();
    const QDeadlineTimer deadline(replyTimeoutMs);
    QByteArray buffer;
    while (!buffer.contains('\n') && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(100) &&
            socket.state() != QLocalSocket::ConnectedState) {
            buffer += socket.readAll();
            break;
        }
        buffer += socket.readAll();
    }
    const auto reply = RunnerProtocol::decode(buffer.left(buffer.indexOf('\n')));
    if (!reply)
        *error = QStringLiteral("no answer from the agent runner");
    return reply;
}

int run(const QStringList& arguments, QTextStream& out, QTextStream& err,
        const QString& programFolder)
{
    const QString command = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("load") || command == QLatin1String("unload")) {
        const QStringList paths = pathArguments(rest);
        if (paths.isEmpty()) {
            err << usage();
            return 1;
        }
        return command == QLatin1String("load") ? load(paths, err, programFolder)
                                                : unload(paths, err, programFolder);
    }
    if (command == QLatin1String("list"))
        return list(out, err, programFolder);
    if (!command.isEmpty())
        err << "Unrecognized subcommand: " << command << '\n';
    err << usage();
    return 1;
}

} // namespace Launchctl
