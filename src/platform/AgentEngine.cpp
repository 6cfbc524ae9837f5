#include "AgentEngine.h"

#include "AtomicFile.h"
#include "ChildProcess.h"
#include "Locations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace AgentEngine {

namespace {

// How long the manager may take to answer. Its socket exists, so a slow answer is a loaded
// machine; BRENMOR_OPS_SYSTEMD_PROBE_MS shortens the wait for tests.
constexpr int probeTimeoutMs = 15000;

int probeLimitMs()
{
    bool valid = false;
    const int limit = qEnvironmentVariableIntValue("BRENMOR_OPS_SYSTEMD_PROBE_MS", &valid);
    return valid && limit > 0 ? limit : probeTimeoutMs;
}

} // namespace

QString name(Kind kind)
{
    switch (kind) {
    case Kind::launchd:
        return QStringLiteral("launchd");
    case Kind::systemd:
        return QStringLiteral("systemd");
    case Kind::runner:
        break;
    }
    return QStringLiteral("runner");
}

QString displayName(Kind kind)
{
    switch (kind) {
    case Kind::launchd:
        return QStringLiteral("launchd");
    case Kind::systemd:
        return QStringLiteral("systemd user manager");
    case Kind::runner:
        break;
    }
    return QStringLiteral("Brenmor Ops agent runner");
}

std::optional<Kind> fromName(const QString& text)
{
    for (Kind kind : {Kind::launchd, Kind::systemd, Kind::runner}) {
        if (text == name(kind))
            return kind;
    }
    return std::nullopt;
}

Result<std::optional<Kind>> forced()
{
    const QString value = qEnvironmentVariable("BRENMOR_OPS_ENGINE");
    if (value.isEmpty())
        return std::optional<Kind>();
    const std::optional<Kind> kind = fromName(value);
    if (!kind || *kind == Kind::launchd)
        return Result<std::optional<Kind>>::failure(
            QStringLiteral("BRENMOR_OPS_ENGINE=%1: use systemd or runner").arg(value));
    return kind;
}

std::optional<bool> systemdManagerAnswers()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // Without the manager's socket there is nothing to ask: no process is started at all.
    if (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/systemd/private")))
        return false;
    const QString systemctl = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
    if (systemctl.isEmpty())
        return false;
    const ChildProcess::Outcome probe = ChildProcess::run(
        systemctl,
        {QStringLiteral("--user"), QStringLiteral("show"), QStringLiteral("--property=Version")},
        ChildProcess::Options(probeLimitMs(), ChildProcess::Output::discarded));
    if (probe.timedOut)
        return std::nullopt;
    return probe.succeeded();
}

Result<Kind> chosen()
{
#ifdef Q_OS_MACOS
    return Kind::launchd;
#else
    const Result<std::optional<Kind>> override = forced();
    if (!override)
        return Result<Kind>::failure(override.error());
    if (*override)
        return **override;
    const std::optional<bool> answers = systemdManagerAnswers();
    if (!answers)
        return recorded().value_or(Kind::runner);
    return *answers ? Kind::systemd : Kind::runner;
#endif
}

QString recordPath() { return Locations::stateFolder() + QStringLiteral("/engine.json"); }

std::optional<Kind> recorded()
{
    QFile file(recordPath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.read(4096));
    return fromName(document.object().value(QStringLiteral("engine")).toString());
}

Result<void> record(Kind kind)
{
    QDir().mkpath(Locations::stateFolder());
    const QJsonObject object{{QStringLiteral("engine"), name(kind)}};
    return AtomicFile::write(recordPath(), QJsonDocument(object).toJson(QJsonDocument::Indented));
}

Kind inUse()
{
#ifdef Q_OS_MACOS
    return Kind::launchd;
#else
    if (const std::optional<Kind> kind = recorded())
        return *kind;
    const Result<Kind> next = chosen();
    return next ? *next : Kind::runner;
#endif
}

} // namespace AgentEngine
