// The Shortcuts picker over a fake `shortcuts` tool (BRENMOR_OPS_SHORTCUTS): parsing the
// listing, filtering, choosing, and the empty state for missing or failing tools.
#include "ShortcutsPickerView.h"
#include "TestSupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList visibleNames(QWidget* picker)
{
    QStringList names;
    for (QPushButton* row : picker->findChildren<QPushButton*>(QStringLiteral("shortcut-row"))) {
        if (row->isVisibleTo(picker))
            names.append(row->property("shortcutName").toString());
    }
    return names;
}

QWidget* emptyState(QWidget* picker)
{
    return picker->findChild<QWidget*>(QStringLiteral("shortcuts-empty"));
}

} // namespace

class TestShortcutsPicker : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void parseNames_data();
    void parseNames();
    void listsFiltersAndChooses();
    void emptyStates_data();
    void emptyStates();

private:
    void useTool(const QByteArray& body);
    QTemporaryDir m_dir;
};

void TestShortcutsPicker::init() { qunsetenv("BRENMOR_OPS_SHORTCUTS"); }

void TestShortcutsPicker::cleanup() { qunsetenv("BRENMOR_OPS_SHORTCUTS"); }

void TestShortcutsPicker::useTool(const QByteArray& body)
{
    const QString path = m_dir.filePath(QStringLiteral("shortcuts"));
    QFile::remove(path);
    TestSupport::writeScript(path, "#!/bin/sh\n" + body);
    qputenv("BRENMOR_OPS_SHORTCUTS", path.toUtf8());
}

void TestShortcutsPicker::parseNames_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("blank lines and trailing blanks")
        << QByteArray("Backup Photos  \n\n\t\nMorning\t\r\n")
        << QStringList{"Backup Photos", "Morning"};
    QTest::newRow("order and duplicates kept")
        << QByteArray("Zed\nAlpha\nZed\n") << QStringList{"Zed", "Alpha", "Zed"};
    QTest::newRow("inner spaces kept") << QByteArray("  A  B  ") << QStringList{"A  B"};
    QTest::newRow("not UTF-8") << QByteArray("Good\n\xff\xfe\n") << QStringList{};
    QTest::newRow("nothing") << QByteArray() << QStringList{};
}

void TestShortcutsPicker::parseNames()
{
    QFETCH(QByteArray, output);
    QFETCH(QStringList, names);
    QCOMPARE(ShortcutsPickerView::parseNames(output), names);
}

void TestShortcutsPicker::listsFiltersAndChooses()
{
    useTool("[ \"$1\" = list ] || exit 9\n"
            "printf 'Backup Photos\\n  Morning Routine \\nBob'\\''s Backup\\nTom & Jerry\\n'\n"
            "echo 'noise' >&2\n");
    ShortcutsPickerView picker;
    QSignalSpy selected(&picker, &ShortcutsPickerView::selected);
    picker.show();
    QTRY_VERIFY(!picker.isLoading());
    const QStringList all = {QStringLiteral("Backup Photos"), QStringLiteral("Morning Routine"),
                             QStringLiteral("Bob's Backup"), QStringLiteral("Tom & Jerry")};
    QCOMPARE(picker.shortcuts(), all);
    QCOMPARE(visibleNames(&picker), all);
    QVERIFY(!emptyState(&picker)->isVisibleTo(&picker));

    auto* filter = picker.findChild<QLineEdit*>(QStringLiteral("shortcuts-filter"));
    QVERIFY(filter->isVisibleTo(&picker));
    QTest::keyClicks(filter, QStringLiteral("BACK"));
    QCOMPARE(visibleNames(&picker),
             (QStringList{QStringLiteral("Backup Photos"), QStringLiteral("Bob's Backup")}));
    filter->clear();
    QCOMPARE(visibleNames(&picker), all);

    QPushButton* bob = nullptr;
    for (QPushButton* row : picker.findChildren<QPushButton*>(QStringLiteral("shortcut-row"))) {
        if (row->property("shortcutName") == QStringLiteral("Bob's Backup"))
            bob = row;
    }
    QVERIFY(bob);
    bob->click();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.at(0).at(0).toString(), QStringLiteral("Bob's Backup"));
    QCOMPARE(picker.chosen(), QStringLiteral("Bob's Backup"));
    QCOMPARE(picker.result(), int(QDialog::Accepted));
}

void TestShortcutsPicker::emptyStates_data()
{
    QTest::addColumn<QByteArray>("tool");
    QTest::newRow("no shortcuts") << QByteArray("exit 0\n");
    QTest::newRow("only blank lines") << QByteArray("printf '\\n  \\n'\n");
    QTest::newRow("tool fails") << QByteArray("echo 'Some Name'; echo broken >&2; exit 1\n");
    QTest::newRow("tool missing") << QByteArray();
}

void TestShortcutsPicker::emptyStates()
{
    QFETCH(QByteArray, tool);
    if (tool.isEmpty())
        qputenv("BRENMOR_OPS_SHORTCUTS", m_dir.filePath(QStringLiteral("absent")).toUtf8());
    else
        useTool(tool);
    ShortcutsPickerView picker;
    picker.show();
    QTRY_VERIFY(!picker.isLoading());
    QVERIFY(emptyState(&picker)->isVisibleTo(&picker));
    QVERIFY(
        !picker.findChild<QLineEdit*>(QStringLiteral("shortcuts-filter"))->isVisibleTo(&picker));
    QVERIFY(visibleNames(&picker).isEmpty());
}

QTEST_MAIN(TestShortcutsPicker)
#include "TestShortcutsPicker.moc"
