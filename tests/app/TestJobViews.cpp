// The system job row and detail: what they show for the keys a job has or lacks.
#include "LaunchdJobDetailView.h"
#include "SystemJobListModel.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextEdit>

namespace {

LaunchdJob baseJob()
{
    LaunchdJob job;
    job.id = QStringLiteral("/Library/LaunchDaemons/com.example.job.plist");
    job.url = job.id;
    job.label = QStringLiteral("com.example.job");
    job.source = LaunchdJob::Source::globalDaemons;
    job.raw = {{QStringLiteral("Label"), job.label}};
    return job;
}

QString labelText(QWidget* view, const QString& name)
{
    if (auto* label = view->findChild<QLabel*>(name))
        return label->text();
    if (auto* field = view->findChild<QLineEdit*>(name))
        return field->text();
    if (auto* text = view->findChild<QPlainTextEdit*>(name))
        return text->toPlainText();
    if (auto* text = view->findChild<QTextEdit*>(name))
        return text->toPlainText();
    return QStringLiteral("<missing %1>").arg(name);
}

QStringList pathRows(QWidget* view)
{
    QStringList names;
    for (PathRow* row : view->findChildren<PathRow*>())
        names << row->objectName() + QLatin1Char('=') +
                     labelText(row, QStringLiteral("path-row-value"));
    return names;
}

QStringList badgeNames(QWidget* view)
{
    QStringList names;
    const QWidget* row = view->findChild<QWidget*>(QStringLiteral("job-detail-badges"));
    for (QWidget* badge : row->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        names << badge->accessibleName();
    return names;
}

} // namespace

class TestJobViews : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commandLine_data();
    void commandLine();
    void pathRowsFollowKeys();
    void badges_data();
    void badges();
    void rowData();
};

void TestJobViews::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments"); // empty: absent
    QTest::addColumn<QString>("program");       // empty: absent
    QTest::addColumn<QString>("shown");
    QTest::newRow("both: arguments win")
        << QStringList{QStringLiteral("/bin/tool"), QStringLiteral("-v")}
        << QStringLiteral("/bin/other") << QStringLiteral("/bin/tool -v");
    QTest::newRow("program only") << QStringList() << QStringLiteral("/bin/other")
                                  << QStringLiteral("/bin/other");
    QTest::newRow("neither") << QStringList() << QString() << QStringLiteral("(unknown)");
}

void TestJobViews::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, program);
    QFETCH(QString, shown);
    LaunchdJob job = baseJob();
    if (!arguments.isEmpty())
        job.programArguments = arguments;
    if (!program.isEmpty())
        job.program = program;
    LaunchdJobDetailView view(job);
    QCOMPARE(labelText(&view, QStringLiteral("job-detail-command")), shown);
    QCOMPARE(labelText(&view, QStringLiteral("job-detail-label")), job.label);
    QVERIFY(labelText(&view, QStringLiteral("job-detail-raw"))
                .contains(QStringLiteral("<key>Label</key>")));
}

void TestJobViews::pathRowsFollowKeys()
{
    LaunchdJob job = baseJob();
    {
        LaunchdJobDetailView view(job);
        QCOMPARE(pathRows(&view), QStringList{QStringLiteral("path-row-plist=") + job.url});
    }
    job.standardOutPath = QStringLiteral("/tmp/out.log");
    job.standardErrorPath = QStringLiteral("/tmp/err.log");
    LaunchdJobDetailView view(job);
    QCOMPARE(pathRows(&view), (QStringList{QStringLiteral("path-row-stdout=/tmp/out.log"),
                                           QStringLiteral("path-row-stderr=/tmp/err.log"),
                                           QStringLiteral("path-row-plist=") + job.url}));
}

void TestJobViews::badges_data()
{
    QTest::addColumn<bool>("disabled");
    QTest::addColumn<bool>("runAtLoad");
    QTest::addColumn<bool>("keepAlive");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("plain") << false << false << false
                           << QStringList{QStringLiteral("Global Daemons"),
                                          QStringLiteral("Enabled")};
    QTest::newRow("disabled") << true << false << false
                              << QStringList{QStringLiteral("Global Daemons"),
                                             QStringLiteral("Disabled")};
    QTest::newRow("all") << false << true << true
                         << QStringList{QStringLiteral("Global Daemons"), QStringLiteral("Enabled"),
                                        QStringLiteral("Run at Load"),
                                        QStringLiteral("Keep Alive")};
}

void TestJobViews::badges()
{
    QFETCH(bool, disabled);
    QFETCH(bool, runAtLoad);
    QFETCH(bool, keepAlive);
    QFETCH(QStringList, expected);
    LaunchdJob job = baseJob();
    job.disabled = disabled;
    job.runAtLoad = runAtLoad;
    job.keepAlive = keepAlive;
    LaunchdJobDetailView view(job);
    QCOMPARE(badgeNames(&view), expected);
    // The badge is "Run at Load"; the schedule text of the same job says "Run at load".
    if (runAtLoad)
        QCOMPARE(labelText(&view, QStringLiteral("job-detail-schedule")),
                 QStringLiteral("Run at load"));
}

void TestJobViews::rowData()
{
    LaunchdJob job = baseJob();
    job.disabled = true;
    job.startInterval = 90;
    SystemJobListModel model;
    model.setJobs({job});
    const QModelIndex index = model.index(0, 0);
    QCOMPARE(index.data().toString(), job.label);
    QCOMPARE(index.data(SystemJobListModel::SourceNameRole).toString(),
             QStringLiteral("Global Daemons"));
    QCOMPARE(index.data(SystemJobListModel::ScheduleRole).toString(),
             QStringLiteral("Every 1 min"));
    QCOMPARE(index.data(SystemJobListModel::DisabledRole).toBool(), true);
    QCOMPARE(model.rowOf(job.id), 0);
    QCOMPARE(model.rowOf(QStringLiteral("/other.plist")), -1);
}

QTEST_MAIN(TestJobViews)
#include "TestJobViews.moc"
