#include "AgentRunner.h"
#include "FailureNotifier.h"
#include "Locations.h"

#include "AtomicFile.h"

#include "RunnerPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcessEnvironment>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// launchctl sends its plists in parts far below this; anything larger is not launchctl talking.
constexpr qint64 maxRequestBytes = 16 * 1024 * 1024;
constexpr int requestTimeoutMs = 30000;
// launchd's status for a job it could not start (EX_CONFIG).
constexpr int cannotStartStatus = 78;

int signalPipe[2] = {-1, -1};

void forwardSignal(int number)
{
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

void warn(const QString& message)
{
    std::fprintf(stderr, "brenmor-agent-runner: %s\n", qPrintable(message));
}

QJsonObject failure(const QString& message)
{
    return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}};
}

} // namespace

AgentRunner::AgentRunner(QObject* parent)
    : QObject(parent), m_failureNotifier(new FailureNotifier(Locations::taskFilePath(),
                                                             QDBusConnection::sessionBus(), this)),
      m_scheduler(QTimeZone::systemTimeZone()), m_user(JobLauncher::currentUser())
{
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment.keys())
        m_runnerEnvironment.insert(name, environment.value(name));
}

AgentRunner::~AgentRunner()
{
    if (m_timerFd >= 0)
        ::close(m_timerFd);
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

Result<void, AgentRunner::StartError> AgentRunner::start()
{
    using Started = Result<void, StartError>;
    const auto failed = [](const QString& reason) { return Started::failure({false, reason}); };
    if (const Result<void> folder = RunnerPaths::ensureRuntimeFolder(); !folder.ok())
        return failed(folder.error());
    if (Started locked = takeLock(); !locked.ok())
        return locked;
    if (const Result<void> pipe = installSignalPipe(); !pipe.ok())
        return failed(pipe.error());
    if (const Result<void> timer = createTimer(); !timer.ok())
        return failed(timer.error());

    // Holding the lock, any socket file left behind is a dead runner's.
    QLocalServer::removeServer(RunnerPaths::socketFile());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(RunnerPaths::socketFile()))
        return failed(m_server->errorString());
    connect(m_server, &QLocalServer::newConnection, this, &AgentRunner::acceptConnection);

    // A runner whose socket is gone (its runtime folder removed at logout, or a test's temporary
    // home deleted) can no longer be reached and must not linger.
    m_watcher = new QFileSystemWatcher(QStringList{RunnerPaths::runtimeFolder()}, this);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this,
            &AgentRunner::checkSocketStillThere);

    restoreState();
    armTimer();
    return {};
}

Result<void, AgentRunner::StartError> AgentRunner::takeLock()
{
    using Locked = Result<void, StartError>;
    const QByteArray path = QFile::encodeName(RunnerPaths::lockFile());
    m_lockFd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0)
        return Locked::failure(
            {false, QStringLiteral("cannot open %1: %2")
                        .arg(RunnerPaths::lockFile(), QString::fromLocal8Bit(strerror(errno)))});
    // flock goes with the process: a killed runner never leaves a stale lock behind.
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        return Locked::failure({held, held ? QStringLiteral("another runner is already running")
                                           : QString::fromLocal8Bit(strerror(errno))});
    }
    const QByteArray pid = QByteArray::number(::getpid()) + '\n';
    if (::ftruncate(m_lockFd, 0) != 0 || ::write(m_lockFd, pid.constData(), pid.size()) < 0)
        warn(QStringLiteral("cannot record the process id in the lock file"));
    return {};
}

Result<void> AgentRunner::installSignalPipe()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return Result<void>::failure(QString::fromLocal8Bit(strerror(errno)));
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    for (int number : {SIGCHLD, SIGTERM, SIGINT})
        ::sigaction(number, &action, nullptr);
    // A launchctl that hangs up early must not kill the runner.
    ::signal(SIGPIPE, SIG_IGN);
    m_signalNotifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, &AgentRunner::onSignal);
    return {};
}

Result<void> AgentRunner::createTimer()
{
    // A wall-clock timer keeps running through suspend, so a calendar time passed while the
    // machine slept fires at wake; the realtime clock also reports being set.
    m_timerFd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timerFd < 0)
        return Result<void>::failure(QString::fromLocal8Bit(strerror(errno)));
    m_timerNotifier = new QSocketNotifier(m_timerFd, QSocketNotifier::Read, this);
    connect(m_timerNotifier, &QSocketNotifier::activated, this, &AgentRunner::onTimer);
    return {};
}

ClockReading AgentRunner::readClock()
{
    timespec boot{};
    ::clock_gettime(CLOCK_BOOTTIME, &boot);
    // In UTC: every comparison of a local QDateTime asks the C library for the zone again
    // (a stat of /etc/localtime each time), thousands of times per load or tick. Calendar
    // entries are still matched in the scheduler's zone.
    return {QDateTime::currentDateTimeUtc(), qint64(boot.tv_sec) * 1000 + boot.tv_nsec / 1000000};
}

void AgentRunner::armTimer()
{
    const auto next = m_scheduler.nextWake(readClock());
    itimerspec alarm{};
    if (next) {
        const qint64 ms = std::max<qint64>(next->toMSecsSinceEpoch(), 1);
        alarm.it_value.tv_sec = ms / 1000;
        alarm.it_value.tv_nsec = (ms % 1000) * 1000000;
    }
    if (::timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &alarm,
                          nullptr) != 0)
        warn(QStringLiteral("cannot arm the timer: %1")
                 .arg(QString::fromLocal8Bit(strerror(errno))));
}

void AgentRunner::onTimer()
{
    quint64 expirations = 0;
    // ECANCELED means the wall clock was set: the plan is simply evaluated against the new time.
    [[maybe_unused]] const ssize_t got = ::read(m_timerFd, &expirations, sizeof expirations);
    const QStringList due = m_scheduler.due(readClock());
    for (const QString& label : due)
        run(label);
    armTimer();
}

void AgentRunner::run(const QString& label)
{
    const auto job = m_jobs.find(label);
    if (job == m_jobs.end())
        return;
    // launchd never starts a job twice: a time that comes while it still runs is skipped.
    if (runningPid(label) > 0)
        return;
    const QStringList environment =
        JobLauncher::environmentFor(m_user, m_runnerEnvironment, job->definition.environment);
    const JobLauncher::Started started = JobLauncher::start(job->definition, m_user, environment);
    if (started.pid > 0) {
        m_children.insert(started.pid, label);
    } else {
        warn(QStringLiteral("%1: %2").arg(label, started.error));
        job->lastExitStatus = cannotStartStatus;
    }
}

pid_t AgentRunner::runningPid(const QString& label) const
{
    for (auto it = m_children.cbegin(); it != m_children.cend(); ++it) {
        if (it.value() == label)
            return it.key();
    }
    return 0;
}

void AgentRunner::onSignal()
{
    char numbers[64];
    bool stop = false;
    bool child = false;
    ssize_t count = 0;
    while ((count = ::read(signalPipe[0], numbers, sizeof numbers)) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            if (numbers[i] == SIGCHLD)
                child = true;
            else
                stop = true;
        }
    }
    if (child)
        reapChildren();
    if (stop)
        stopAndQuit();
}

void AgentRunner::reapChildren()
{
    int status = 0;
    pid_t pid = 0;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        const QString label = m_children.take(pid);
        const auto job = m_jobs.find(label);
        if (label.isEmpty() || job == m_jobs.end())
            continue;
        // launchctl list shows a signal as its negative number.
        if (WIFEXITED(status))
            job->lastExitStatus = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            job->lastExitStatus = -WTERMSIG(status);
        else
            continue;
        m_failureNotifier->runEnded(label, job->lastExitStatus);
    }
}

void AgentRunner::stopAndQuit()
{
    // Like launchd at logout: the runs end with the session.
    for (auto it = m_children.cbegin(); it != m_children.cend(); ++it)
        ::kill(-it.key(), SIGTERM);
    if (m_server)
        m_server->close();
    QCoreApplication::quit();
}

void AgentRunner::checkSocketStillThere()
{
    if (!QFileInfo::exists(RunnerPaths::socketFile())) {
        warn(QStringLiteral("socket %1 removed; stopping").arg(RunnerPaths::socketFile()));
        stopAndQuit();
    }
}

void AgentRunner::acceptConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        // A client that never finishes its request must not hold a connection for ever.
        QTimer::singleShot(requestTimeoutMs, socket, [socket] { socket->abort(); });
        if (socket->bytesAvailable() > 0)
            readRequest(socket);
    }
}

void AgentRunner::readRequest(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > maxRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine().trimmed();
    const auto request = RunnerProtocol::decode(line);
    const QJsonObject reply = request ? handle(*request) : failure(QStringLiteral("bad request"));
    socket->write(RunnerProtocol::encode(reply));
    socket->disconnectFromServer();
}

QJsonObject AgentRunner::handle(const QJsonObject& request)
{
    const QString command = request.value(QStringLiteral("command")).toString();
    if (command == QLatin1String("load"))
        return load(request);
    if (command == QLatin1String("unload"))
        return unload(request);
    if (command == QLatin1String("list"))
        return list();
    if (command == QLatin1String("start"))
        return startJob(request);
    return failure(QStringLiteral("unknown command %1").arg(command));
}

QJsonObject AgentRunner::load(const QJsonObject& request)
{
    QList<QJsonObject> results;
    bool anyLoaded = false;
    for (const RunnerProtocol::JobRequest& job : RunnerProtocol::jobRequestsOf(request)) {
        if (const Result<void> loaded = loadJob(job.path, job.plist); loaded.ok()) {
            anyLoaded = true;
            results.append(QJsonObject{{QStringLiteral("ok"), true}});
        } else {
            results.append(QJsonObject{{QStringLiteral("ok"), false},
                                       {QStringLiteral("error"), loaded.message()}});
        }
    }
    // Recorded once for the whole call: a thousand agents must not mean a thousand rewrites
    // of a state that grows with each of them.
    if (anyLoaded) {
        saveState();
        armTimer();
    }
    return RunnerProtocol::batchReply(results);
}

Result<void> AgentRunner::loadJob(const QString& plistPath, const QByteArray& plist)
{
    auto parsed = parseJobSpec(plist);
    if (!parsed)
        return Result<void>::failure(parsed.message());
    Job job;
    job.definition = std::move(parsed).value();
    job.plistPath = plistPath;
    job.plist = plist;
    job.stateEntry =
        QJsonDocument(QJsonObject{{QStringLiteral("label"), job.definition.label},
                                  {QStringLiteral("path"), plistPath},
                                  {QStringLiteral("plist"), QString::fromLatin1(plist.toBase64())}})
            .toJson(QJsonDocument::Compact);
    if (job.definition.rejectedCalendarEntries > 0)
        warn(QStringLiteral("%1: ignored %2 invalid StartCalendarInterval entries")
                 .arg(job.definition.label)
                 .arg(job.definition.rejectedCalendarEntries));
    const QString label = job.definition.label;
    // Reloading replaces the job but keeps what launchctl list reported for it.
    if (const auto previous = m_jobs.constFind(label); previous != m_jobs.cend())
        job.lastExitStatus = previous->lastExitStatus;
    const bool runAtLoad = job.definition.runAtLoad;
    m_scheduler.add(label, job.definition.startInterval, job.definition.calendar, readClock());
    m_jobs.insert(label, std::move(job));
    if (runAtLoad)
        run(label);
    return {};
}

QJsonObject AgentRunner::unload(const QJsonObject& request)
{
    QList<QJsonObject> results;
    bool anyFound = false;
    for (const RunnerProtocol::JobRequest& job : RunnerProtocol::jobRequestsOf(request)) {
        const bool found = unloadJob(job.path, job.label);
        anyFound = anyFound || found;
        results.append(QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("found"), found}});
    }
    if (anyFound) {
        saveState();
        armTimer();
    }
    return RunnerProtocol::batchReply(results);
}

bool AgentRunner::unloadJob(const QString& path, QString label)
{
    if (label.isEmpty() || !m_jobs.contains(label)) {
        label.clear();
        for (auto it = m_jobs.cbegin(); it != m_jobs.cend(); ++it) {
            if (!path.isEmpty() && it->plistPath == path)
                label = it.key();
        }
    }
    if (label.isEmpty())
        return false;
    // The job leaves the table; a run in progress goes on and is still reaped.
    m_jobs.remove(label);
    m_scheduler.remove(label);
    return true;
}

QJsonObject AgentRunner::list() const
{
    QList<RunnerProtocol::JobStatus> jobs;
    for (auto it = m_jobs.cbegin(); it != m_jobs.cend(); ++it)
        jobs.append({it.key(), runningPid(it.key()), it->lastExitStatus});
    std::sort(jobs.begin(), jobs.end(),
              [](const auto& a, const auto& b) { return a.label < b.label; });
    QJsonObject reply = RunnerProtocol::listReply(jobs);
    reply.insert(QStringLiteral("ok"), true);
    return reply;
}

QJsonObject AgentRunner::startJob(const QJsonObject& request)
{
    const QString label = request.value(QStringLiteral("label")).toString();
    const bool found = m_jobs.contains(label);
    if (found)
        run(label);
    return QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("found"), found}};
}

void AgentRunner::saveState() const
{
    QStringList labels = m_jobs.keys();
    std::sort(labels.begin(), labels.end());
    // {"version": 1, "jobs": [entry, ...]}, an entry per line.
    QByteArray state = "{\n\"version\": 1,\n\"jobs\": [";
    const char* separator = "\n";
    for (const QString& label : std::as_const(labels)) {
        state += separator;
        // constFind, not the const operator[], which returns a copy of the whole job.
        state += m_jobs.constFind(label)->stateEntry;
        separator = ",\n";
    }
    state += "\n]\n}\n";
    const QString path = RunnerPaths::stateFile();
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (const Result<void> written = AtomicFile::write(path, state); !written.ok())
        warn(written.message());
}

void AgentRunner::restoreState()
{
    const QString path = RunnerPaths::stateFile();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const auto state = RunnerProtocol::decode(file.readAll());
    file.close();
    if (!state) {
        // Keep the unreadable file for the user instead of overwriting it with an empty list.
        const QString kept = path + QStringLiteral(".unreadable");
        QFile::remove(kept);
        QFile::copy(path, kept);
        warn(QStringLiteral("cannot read %1; kept a copy as %2").arg(path, kept));
        return;
    }
    const QJsonArray jobs = state->value(QStringLiteral("jobs")).toArray();
    for (const QJsonValue& value : jobs) {
        const QJsonObject entry = value.toObject();
        const QByteArray plist =
            QByteArray::fromBase64(entry.value(QStringLiteral("plist")).toString().toLatin1());
        if (const Result<void> loaded =
                loadJob(entry.value(QStringLiteral("path")).toString(), plist);
            !loaded.ok())
            warn(QStringLiteral("cannot restore %1: %2")
                     .arg(entry.value(QStringLiteral("label")).toString(), loaded.message()));
    }
}
