#pragma once

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A private home for one test: HOME and the XDG folders point into a temporary folder, so
// nothing a test does reaches the user's files. Restores the environment when destroyed.
class TestHome {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    QString path() const { return m_dir.path(); }
    QString dataFolder() const;              // the BrenmorOps data folder inside this home
    QString taskFile() const;                // dataFolder()/tasks.json
    QString launchAgents() const;            // ~/Library/LaunchAgents
    QProcessEnvironment environment() const; // for child processes

private:
    QTemporaryDir m_dir;
    QHash<QByteArray, QByteArray> m_saved;
};

struct ProcessResult {
    int exitCode = -1;
    bool crashed = false;
    QByteArray out;
    QByteArray err;
    QString outText() const { return QString::fromUtf8(out); }
    QString errText() const { return QString::fromUtf8(err); }
};

namespace TestSupport {
// Bounds a wait for something that is expected to happen (a line printed, a file appearing, a
// signal): passing tests never reach it, so it is long enough for a loaded machine running a
// sanitizer build.
constexpr int eventTimeoutMs = 30000;
// Folder of the test data (tests/data).
QString dataPath(const QString& name = QString());
// Built programs (brenmor-ops, BrenmorOps) and the Linux stand-ins.
QString binPath(const QString& program);
QString compatPath(const QString& program);
// Runs a program to its end with the given environment; standard input is empty.
ProcessResult run(const QString& program, const QStringList& args,
                  const QProcessEnvironment& environment, int timeoutMs = 60000,
                  const QString& workingDirectory = QString());
// Runs the built brenmor-ops inside `home`.
ProcessResult runTool(const TestHome& home, const QStringList& args,
                      const QProcessEnvironment& extra = QProcessEnvironment());
QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
// Line `index` of a run history: runs an hour apart from 2025-03-01 09:00 UTC, each 42 s long,
// ending with `exitCode`.
QByteArray runHistoryLine(int index, int exitCode);
// Writes an executable shell script.
void writeScript(const QString& path, const QByteArray& body);
// Processes whose command line contains `text` (a path only the test's children carry): once
// none is left, nothing they were about to do can still happen.
QList<qint64> processesMentioning(const QString& text);
// Whether process `pid` runs; a zombie (never reaped when the container's init does not reap)
// counts as gone.
bool processRunning(qint64 pid);
} // namespace TestSupport
