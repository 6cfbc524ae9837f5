// Scanning launchd folders that hold 1,000 property lists (three quarters XML, one quarter
// binary), as a well-used machine's three folders might. The plists are written once under
// $BRENMOR_BENCH_DIR/launchd (default /tmp/brenmor-bench).

#include "LaunchdBrowser.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>
#include <plist/plist.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int plistCount = 1000;

QString dataDir()
{
    const QByteArray base = qgetenv("BRENMOR_BENCH_DIR");
    return (base.isEmpty() ? QStringLiteral("/tmp/brenmor-bench") : QString::fromLocal8Bit(base)) +
           QStringLiteral("/launchd");
}

const QList<LaunchdBrowser::Folder>& folders()
{
    static const QList<LaunchdBrowser::Folder> list{
        {dataDir() + QStringLiteral("/user"), LaunchdJob::Source::userAgents},
        {dataDir() + QStringLiteral("/agents"), LaunchdJob::Source::globalAgents},
        {dataDir() + QStringLiteral("/daemons"), LaunchdJob::Source::globalDaemons}};
    return list;
}

QByteArray jobXml(int n)
{
    QByteArray schedule;
    if (n % 3 == 0)
        schedule = "\t<key>StartInterval</key>\n\t<integer>" +
                   QByteArray::number(60 * (n % 90 + 1)) + "</integer>\n";
    else if (n % 3 == 1)
        schedule = "\t<key>StartCalendarInterval</key>\n\t<dict>\n\t\t<key>Hour</key>\n"
                   "\t\t<integer>" +
                   QByteArray::number(n % 24) + "</integer>\n\t\t<key>Minute</key>\n\t\t<integer>" +
                   QByteArray::number(n % 60) + "</integer>\n\t</dict>\n";
    else
        schedule = "\t<key>KeepAlive</key>\n\t<dict>\n\t\t<key>SuccessfulExit</key>\n"
                   "\t\t<false/>\n\t</dict>\n";
    const QByteArray label = "org.example.service" + QByteArray::number(n);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
           "\t<key>Label</key>\n\t<string>" +
           label +
           "</string>\n"
           "\t<key>ProgramArguments</key>\n\t<array>\n"
           "\t\t<string>/usr/local/libexec/" +
           label +
           "</string>\n"
           "\t\t<string>--config</string>\n"
           "\t\t<string>/usr/local/etc/" +
           label +
           ".conf</string>\n\t</array>\n"
           "\t<key>EnvironmentVariables</key>\n\t<dict>\n"
           "\t\t<key>PATH</key>\n\t\t<string>/usr/local/bin:/usr/bin:/bin</string>\n"
           "\t\t<key>LANG</key>\n\t\t<string>en_US.UTF-8</string>\n\t</dict>\n"
           "\t<key>RunAtLoad</key>\n\t<true/>\n" +
           schedule + "\t<key>StandardOutPath</key>\n\t<string>/usr/local/var/log/" + label +
           ".log</string>\n"
           "\t<key>StandardErrorPath</key>\n\t<string>/usr/local/var/log/" +
           label +
           ".err</string>\n"
           "</dict>\n</plist>\n";
}

QByteArray toBinary(const QByteArray& xml)
{
    plist_t root = nullptr;
    plist_from_memory(xml.constData(), uint32_t(xml.size()), &root);
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bin, &length);
    QByteArray result(bin, qsizetype(length));
    std::free(bin);
    plist_free(root);
    return result;
}

bool prepareData()
{
    for (int n = 0; n < plistCount; ++n) {
        // Half in the user's folder, three tenths global agents, the rest daemons.
        const auto& folder = folders()[n % 10 < 5 ? 0 : n % 10 < 8 ? 1 : 2];
        if (!QDir().mkpath(folder.path))
            return false;
        QFile file(folder.path + QStringLiteral("/org.example.service%1.plist").arg(n));
        const QByteArray xml = jobXml(n);
        const QByteArray bytes = n % 4 == 3 ? toBinary(xml) : xml;
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            return false;
    }
    return true;
}

void scanThousandPlists(benchmark::State& state)
{
    const LaunchdBrowser browser(folders());
    for (auto _ : state) {
        const QList<LaunchdJob> jobs = browser.scanJobs();
        if (jobs.size() != plistCount) {
            state.SkipWithError("not every plist was read");
            break;
        }
        benchmark::DoNotOptimize(jobs.constData());
    }
    state.SetItemsProcessed(state.iterations() * plistCount);
}
BENCHMARK(scanThousandPlists)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (!prepareData()) {
        std::fprintf(stderr, "cannot write benchmark data in %s\n", qPrintable(dataDir()));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
