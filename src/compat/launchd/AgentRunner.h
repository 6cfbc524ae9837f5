#pragma once

#include "JobLauncher.h"
#include "JobScheduler.h"
#include "JobSpec.h"
#include "RunnerProtocol.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <sys/types.h>

class QLocalServer;
class QLocalSocket;
class QSocketNotifier;
class QFileSystemWatcher;
class FailureNotifier;

// The user's stand-in for launchd: keeps the loaded agents, starts each run at its time,
// reaps the runs and answers launchctl over a local socket. One per user, guarded by a lock.
class AgentRunner final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AgentRunner)

public:
    // Why the runner did not start. Another runner holding the lock is no fault: login starts
    // it from several places and the later ones simply leave.
    struct StartError {
        bool alreadyRunning = false;
        QString reason;
        QString message() const { return reason; }
    };

    explicit AgentRunner(QObject* parent = nullptr);
    ~AgentRunner() override;

    // Takes the lock, listens, restores the agents loaded before.
    Result<void, StartError> start();

private:
    struct Job {
        JobSpec definition;
        QString plistPath;
        QByteArray plist;
        int lastExitStatus = 0;
        // The job's entry of the state file, made once at load: recording the state after a
        // load of one job then costs no encoding of every other job.
        QByteArray stateEntry;
    };

    Result<void, StartError> takeLock();
    Result<void> installSignalPipe();
    Result<void> createTimer();
    void restoreState();
    void saveState() const;

    void acceptConnection();
    void readRequest(QLocalSocket* socket);
    QJsonObject handle(const QJsonObject& request);
    QJsonObject load(const QJsonObject& request);
    QJsonObject unload(const QJsonObject& request);
    QJsonObject list() const;
    QJsonObject startJob(const QJsonObject& request);
    Result<void> loadJob(const QString& plistPath, const QByteArray& plist);
    // False when no loaded job has the label or, failing that, the path.
    bool unloadJob(const QString& path, QString label);

    void run(const QString& label);
    pid_t runningPid(const QString& label) const;
    void onTimer();
    void armTimer();
    void onSignal();
    void reapChildren();
    void stopAndQuit();
    void checkSocketStillThere();
    static ClockReading readClock();

    QLocalServer* m_server = nullptr;
    QSocketNotifier* m_signalNotifier = nullptr;
    QSocketNotifier* m_timerNotifier = nullptr;
    QFileSystemWatcher* m_watcher = nullptr;
    FailureNotifier* m_failureNotifier = nullptr;
    int m_lockFd = -1;
    int m_timerFd = -1;
    JobScheduler m_scheduler;
    JobLauncher::UserInfo m_user;
    QMap<QString, QString> m_runnerEnvironment;
    QHash<QString, Job> m_jobs;
    QHash<pid_t, QString> m_children; // running pid -> label, kept across unload
};
