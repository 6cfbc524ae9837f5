#include "Launchctl.h"

#include "AtomicFile.h"
#include "ChildProcess.h"
#include "EngineSelection.h"
#include "JobSpec.h"
#include "LaunchctlEngine.h"
#include "RunnerPaths.h"
#include "RunnerProtocol.h"
#include "TaskFile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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
                          "\tlist                List the loaded agents.\n"
                          "\tstart <label>       Start one run of a loaded agent now.\n");
}

// Whoever made the runtime folder or the socket would receive every request, plists and all:
// connect only when both are the caller's alone.
Result<void> checkRunnerEndpoint()
{
    Result<void> folder = RunnerPaths::checkPrivateEntry(RunnerPaths::runtimeFolder(), true);
    if (!folder.ok())
        return folder;
    return RunnerPaths::checkPrivateEntry(RunnerPaths::socketFile(), false);
}

// One connection to the runner's socket. Plain POSIX calls rather than QtNetwork: the tool
// runs launchctl inside its own process (see LaunchctlCall), and every command it has would
// otherwise pay for loading QtNetwork at start.
class RunnerConnection {
public:
    RunnerConnection() = default;
    RunnerConnection(const RunnerConnection&) = delete;
    RunnerConnection& operator=(const RunnerConnection&) = delete;
    ~RunnerConnection() { close(); }

    // Whether someone accepts on `path` within `timeoutMs`.
    bool connect(const QString& path, int timeoutMs)
    {
        close();
        const QByteArray encoded = QFile::encodeName(path);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (encoded.isEmpty() || size_t(encoded.size()) >= sizeof address.sun_path)
            return false;
        std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (m_fd < 0)
                return false;
            if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
                return true;
            const int error = errno;
            close();
            // A full queue of waiting connections says "again", as QLocalSocket retries it.
            if ((error != EAGAIN && error != EINTR) || deadline.hasExpired())
                return false;
            QThread::msleep(10);
        }
    }

    bool send(const QByteArray& bytes, const QDeadlineTimer& deadline)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            if (!waitFor(POLLOUT, deadline))
                return false;
            const ssize_t n =
                ::send(m_fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // What arrives up to the first newline, the end of the stream or the deadline.
    QByteArray receiveLine(const QDeadlineTimer& deadline)
    {
        QByteArray buffer;
        char chunk[65536];
        while (!buffer.contains('\n') && waitFor(POLLIN, deadline)) {
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                break;
            buffer.append(chunk, n);
        }
        return buffer;
    }

    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    bool waitFor(short events, const QDeadlineTimer& deadline) const
    {
        for (;;) {
            pollfd entry{m_fd, events, 0};
            const int ready = ::poll(&entry, 1, int(qMin<qint64>(deadline.remainingTime(), 1000)));
            if (ready > 0)
                return true;
            if ((ready < 0 && errno != EINTR) || deadline.hasExpired())
                return false;
        }
    }

    int m_fd = -1;
};

// Whether the runner answered; fails when the endpoint is refused.
Result<bool> connectTo(RunnerConnection& socket)
{
    if (const Result<void> safe = checkRunnerEndpoint(); !safe.ok())
        return Result<bool>::failure(safe.error());
    return socket.connect(RunnerPaths::socketFile(), 1000);
}

Result<void> startRunner(const QString& programFolder)
{
    if (Result<void> folder = RunnerPaths::ensureRuntimeFolder(); !folder.ok())
        return folder;
    QProcess process;
    process.setProgram(RunnerPaths::runnerProgram(programFolder));
    // The runner outlives launchctl; it must not hold the caller's pipes open.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // Qt starts a detached child through a go-between that makes a new session and exits, so
    // the runner is away from our terminal even where Qt calls no modifier for detached
    // children (6.4); the runner also makes itself a session leader as it starts.
    ChildProcess::startInOwnSession(process);
    if (!process.startDetached())
        return Result<void>::failure(QStringLiteral("cannot start %1").arg(process.program()));
    return {};
}

Result<void> connectOrStart(RunnerConnection& socket, const QString& programFolder)
{
    const Result<bool> connected = connectTo(socket);
    if (!connected)
        return Result<void>::failure(connected.error());
    if (*connected)
        return {};
    if (Result<void> started = startRunner(programFolder); !started.ok())
        return started;
    const QDeadlineTimer deadline(startupTimeoutMs);
    while (!deadline.hasExpired()) {
        const Result<bool> answered = connectTo(socket);
        if (!answered)
            return Result<void>::failure(answered.error());
        if (*answered)
            return {};
        QThread::msleep(50);
    }
    return Result<void>::failure(QStringLiteral("the agent runner did not answer"));
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

// One result object per job, or an empty object for the jobs of a part that got no answer;
// `failure` says why the first such part got none.
struct JobReplies {
    QList<QJsonObject> results;
    QString failure;
};

// Sends the jobs in parts of bounded size, one request each.
JobReplies requestJobs(const QList<RunnerProtocol::JobRequest>& jobs, bool loading,
                       const QString& programFolder)
{
    constexpr qsizetype maxPartBytes = 4 * 1024 * 1024;
    JobReplies replies;
    qsizetype first = 0;
    while (first < jobs.size()) {
        qsizetype end = first;
        qsizetype bytes = 0;
        do {
            bytes += jobs.at(end).plist.size() + jobs.at(end).path.size();
            ++end;
        } while (end < jobs.size() && bytes < maxPartBytes);
        const QList<RunnerProtocol::JobRequest> part = jobs.mid(first, end - first);
        const Result<QJsonObject> reply = request(loading ? RunnerProtocol::loadRequest(part)
                                                          : RunnerProtocol::unloadRequest(part),
                                                  programFolder);
        QList<QJsonObject> partResults =
            reply ? RunnerProtocol::resultsOf(*reply) : QList<QJsonObject>();
        // A reply that does not account for every job counts as none for the missing ones.
        partResults.resize(part.size());
        if (replies.failure.isEmpty() && partResults.contains(QJsonObject()))
            replies.failure =
                reply ? QStringLiteral("no answer from the agent runner") : reply.error();
        replies.results += partResults;
        first = end;
    }
    return replies;
}

int load(const QStringList& paths, QTextStream& err, const QString& programFolder)
{
    int status = 0;
    QList<RunnerProtocol::JobRequest> jobs;
    QStringList sent;
    for (const QString& path : paths) {
        const auto bytes = readPlist(path);
        if (!bytes || !parseJobSpec(*bytes).ok()) {
            report(err, paths, path) << loadFailedMessage() << '\n';
            status = loadFailedStatus;
            continue;
        }
        jobs.append({path, *bytes, QString()});
        sent.append(path);
    }
    const JobReplies replies = requestJobs(jobs, true, programFolder);
    for (qsizetype i = 0; i < sent.size(); ++i) {
        const QJsonObject& result = replies.results.at(i);
        if (result.isEmpty()) {
            report(err, paths, sent.at(i)) << "launchctl: " << replies.failure << '\n';
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
            if (const auto parsed = parseJobSpec(*bytes))
                label = parsed->label;
        }
        jobs.append({path, QByteArray(), label});
    }
    const JobReplies replies = requestJobs(jobs, false, programFolder);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QJsonObject& result = replies.results.at(i);
        if (result.isEmpty()) {
            report(err, paths, paths.at(i)) << "launchctl: " << replies.failure << '\n';
            status = loadFailedStatus;
        } else if (!result.value(QStringLiteral("found")).toBool()) {
            report(err, paths, paths.at(i)) << notFoundMessage() << '\n';
        }
    }
    return status;
}

int list(QTextStream& out, QTextStream& err, const QString& programFolder)
{
    const Result<QJsonObject> reply = request(RunnerProtocol::listRequest(), programFolder);
    if (!reply) {
        err << "launchctl: " << reply.message() << '\n';
        return 1;
    }
    out << RunnerProtocol::formatList(RunnerProtocol::jobsOf(*reply));
    return 0;
}

// launchctl start's status for a label nothing has loaded (ESRCH).
constexpr int noSuchJobStatus = 3;

// The runner's record of its loaded agents, written at every change and read when it starts.
Result<QJsonObject> runnerState()
{
    QFile file(RunnerPaths::stateFile());
    if (!file.exists())
        return QJsonObject();
    if (!file.open(QIODevice::ReadOnly))
        return Result<QJsonObject>::failure(
            QStringLiteral("cannot read %1").arg(RunnerPaths::stateFile()));
    const auto state = RunnerProtocol::decode(file.readAll());
    if (!state)
        return Result<QJsonObject>::failure(
            QStringLiteral("cannot read %1").arg(RunnerPaths::stateFile()));
    return *state;
}

// launchctl on our agent runner, which is started when it does not answer.
class RunnerEngine final : public LaunchctlEngine {
public:
    explicit RunnerEngine(QString programFolder) : m_programFolder(std::move(programFolder)) {}

    AgentEngine::Kind kind() const override { return AgentEngine::Kind::runner; }
    int load(const QStringList& paths, QTextStream& err) override
    {
        return Launchctl::load(paths, err, m_programFolder);
    }
    int unload(const QStringList& paths, QTextStream& err) override
    {
        return Launchctl::unload(paths, err, m_programFolder);
    }
    int list(QTextStream& out, QTextStream& err) override
    {
        return Launchctl::list(out, err, m_programFolder);
    }
    int start(const QString& label, QTextStream& err) override
    {
        const Result<QJsonObject> reply =
            request(RunnerProtocol::startRequest(label), m_programFolder);
        if (!reply) {
            err << "launchctl: " << reply.message() << '\n';
            return 1;
        }
        if (!reply->value(QStringLiteral("found")).toBool()) {
            err << notFoundMessage() << '\n';
            return noSuchJobStatus;
        }
        return 0;
    }

    Result<QList<LoadedAgent>> loadedAgents() override
    {
        const Result<QJsonObject> state = runnerState();
        if (!state)
            return Result<QList<LoadedAgent>>::failure(state.error());
        return RunnerProtocol::jobRequestsOf(*state);
    }
    Result<void> canAdopt(const QList<LoadedAgent>&) override { return {}; }
    Result<void> adopt(const QList<LoadedAgent>& agents) override
    {
        if (agents.isEmpty())
            return {};
        const JobReplies replies = requestJobs(agents, true, m_programFolder);
        for (qsizetype i = 0; i < agents.size(); ++i) {
            if (!replies.results.at(i).value(QStringLiteral("ok")).toBool())
                return Result<void>::failure(QStringLiteral("%1: %2").arg(
                    agents.at(i).path,
                    replies.failure.isEmpty() ? loadFailedMessage() : replies.failure));
        }
        return {};
    }
    Result<void> release(const QList<LoadedAgent>& agents) override
    {
        if (agents.isEmpty())
            return {};
        RunnerConnection socket;
        const Result<bool> answered = connectTo(socket);
        socket.close();
        if (answered && *answered) {
            const JobReplies replies = requestJobs(agents, false, m_programFolder);
            if (!replies.failure.isEmpty())
                return Result<void>::failure(replies.failure);
            return {};
        }
        // No runner runs: starting one just to unload would first run the agents that run at
        // load, so its record loses them instead.
        return forget(agents);
    }

private:
    static Result<void> forget(const QList<LoadedAgent>& agents)
    {
        const Result<QJsonObject> state = runnerState();
        if (!state)
            return Result<void>::failure(state.error());
        QSet<QString> labels;
        for (const LoadedAgent& agent : agents)
            labels.insert(agent.label);
        QJsonObject kept = *state;
        QJsonArray jobs;
        for (const QJsonValue& job : state->value(QStringLiteral("jobs")).toArray()) {
            if (!labels.contains(job.toObject().value(QStringLiteral("label")).toString()))
                jobs.append(job);
        }
        kept.insert(QStringLiteral("jobs"), jobs);
        return AtomicFile::write(RunnerPaths::stateFile(),
                                 QJsonDocument(kept).toJson(QJsonDocument::Indented));
    }

    QString m_programFolder;
};

} // namespace

std::unique_ptr<LaunchctlEngine> makeRunnerEngine(const QString& programFolder)
{
    return std::make_unique<RunnerEngine>(programFolder);
}

namespace {

int startCommand(const QStringList& rest, LaunchctlEngine& engine, QTextStream& err)
{
    if (rest.size() != 1) {
        err << usage();
        return 1;
    }
    return engine.start(rest.first(), err);
}

} // namespace

QString loadFailedMessage() { return QStringLiteral("Load failed: 5: Input/output error"); }

QString notFoundMessage() { return QStringLiteral("Could not find specified service"); }

Result<QJsonObject> request(const QJsonObject& message, const QString& programFolder)
{
    RunnerConnection socket;
    if (const Result<void> connected = connectOrStart(socket, programFolder); !connected.ok())
        return Result<QJsonObject>::failure(connected.error());
    const QDeadlineTimer deadline(replyTimeoutMs);
    QByteArray buffer;
    if (socket.send(RunnerProtocol::encode(message), deadline))
        buffer = socket.receiveLine(deadline);
    const auto reply = RunnerProtocol::decode(buffer.left(buffer.indexOf('\n')));
    if (!reply)
        return Result<QJsonObject>::failure(QStringLiteral("no answer from the agent runner"));
    return *reply;
}

int run(const QStringList& arguments, QTextStream& out, QTextStream& err,
        const QString& programFolder)
{
    const QString command = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    const bool changes = command == QLatin1String("load") || command == QLatin1String("unload");
    if (!changes && command != QLatin1String("list") && command != QLatin1String("start")) {
        if (!command.isEmpty())
            err << "Unrecognized subcommand: " << command << '\n';
        err << usage();
        return 1;
    }
    const QStringList paths = changes ? pathArguments(rest) : QStringList();
    if (changes && paths.isEmpty()) {
        err << usage();
        return 1;
    }
    // One launchctl at a time chooses the engine and moves the agents to it.
    QDir().mkpath(QFileInfo(AgentEngine::recordPath()).absolutePath());
    const TaskFile::Lock lock(AgentEngine::recordPath());
    if (!lock.isLocked()) {
        err << "launchctl: " << lock.error() << '\n';
        return 1;
    }
    const auto engine = EngineSelection::select(programFolder, err);
    if (!engine) {
        err << "launchctl: " << engine.message() << '\n';
        return 1;
    }
    LaunchctlEngine& chosen = **engine;
    if (command == QLatin1String("load"))
        return chosen.load(paths, err);
    if (command == QLatin1String("unload"))
        return chosen.unload(paths, err);
    if (command == QLatin1String("list"))
        return chosen.list(out, err);
    return startCommand(rest, chosen, err);
}

} // namespace Launchctl
