#include "PlistVariant.h"

#include <QTest>

namespace {

QByteArray document(const QByteArray& top)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
           top + "\n</plist>\n";
}

QByteArray dict(const QByteArray& body) { return document("<dict>" + body + "</dict>"); }

QByteArray labelled(const QByteArray& label, const QByteArray& rest = {})
{
    return dict("<key>Label</key><string>" + label + "</string>" + rest);
}

} // namespace

// The direct XML reader against libplist: whatever the reader takes must give exactly what
// libplist gives, and whatever it leaves goes to libplist, which decides as before.
class TestPlistXml : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void agreesWithLibplist_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("readDirectly");

        // What launchd jobs are written with: read directly.
        QTest::newRow("launchd job")
            << labelled(
                   "org.example.job",
                   "<key>ProgramArguments</key><array><string>/bin/sh</string><string>-c</string>"
                   "<string>echo hi</string></array><key>StartCalendarInterval</key><dict>"
                   "<key>Hour</key><integer>3</integer><key>Minute</key><integer>30</integer></"
                   "dict>"
                   "<key>RunAtLoad</key><true/><key>Disabled</key><false/>")
            << true;
        QTest::newRow("entities") << labelled("a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos;")
                                  << true;
        QTest::newRow("entity in a key") << dict("<key>La&amp;bel</key><string>x</string>") << true;
        QTest::newRow("CDATA") << labelled("x<![CDATA[<b>&amp;</b>]]>y") << true;
        QTest::newRow("comments between elements")
            << document("<!-- a --><dict><!-- b --><key>Label</key><!-- c --><string>x</string>"
                        "<!-- d --></dict><!-- e -->") +
                   "<!-- after -->\n"
            << true;
        QTest::newRow("nested dictionaries and arrays")
            << labelled("x", "<key>A</key><array><dict><key>k</key><array><integer>1</integer>"
                             "<true/><false/></array></dict><array/></array><key>D</key><dict/>")
            << true;
        QTest::newRow("integers") << labelled("x",
                                              "<key>a</key><integer>-42</integer>"
                                              "<key>b</key><integer>0</integer>"
                                              "<key>c</key><integer>007</integer>"
                                              "<key>d</key><integer>-0</integer>"
                                              "<key>e</key><integer>123456789012345678</integer>")
                                  << true;
        QTest::newRow("odd white space")
            << QByteArray("<?xml version=\"1.0\"?>\r\n<plist   version=\"1.0\"  >\n\n\t <dict>\n"
                          "   <key>Label</key>   \n\n <string>  spaced  text \n </string>\t\n"
                          "</dict>\n  </plist>\n\n")
            << true;
        QTest::newRow("white space in a key")
            << dict("<key> Label </key><string>x</string>") << true;
        QTest::newRow("empty strings and key")
            << dict("<key></key><string>x</string><key>Label</key><string/>"
                    "<key>B</key><string></string>")
            << true;
        QTest::newRow("no prolog")
            << QByteArray("<plist version=\"1.0\"><dict><key>Label</key><string>x</string>"
                          "</dict></plist>")
            << true;
        QTest::newRow("UTF-8 text") << labelled("caf\xC3\xA9 \xE2\x98\x83") << true;
        QTest::newRow("'>' in text") << labelled("a > b") << true;
        QTest::newRow("top level array") << document("<array><string>x</string></array>") << false;

        // Left to libplist, which reads them.
        QTest::newRow("numeric character references") << labelled("a&#65;&#x42;") << false;
        QTest::newRow("comment in a string") << labelled("a<!-- c -->b") << false;
        QTest::newRow("carriage return in a string") << labelled("a\r\nb") << false;
        QTest::newRow("repeated key")
            << labelled("x", "<key>Label</key><string>y</string>") << false;
        QTest::newRow("integer with spaces")
            << labelled("x", "<key>a</key><integer> 7 </integer>") << false;
        QTest::newRow("hexadecimal integer")
            << labelled("x", "<key>a</key><integer>0x10</integer>") << false;
        QTest::newRow("integer with plus")
            << labelled("x", "<key>a</key><integer>+5</integer>") << false;
        QTest::newRow("integer past 64 bits signed")
            << labelled("x", "<key>a</key><integer>18446744073709551615</integer>") << false;
        QTest::newRow("minus alone") << labelled("x", "<key>a</key><integer>-</integer>") << false;
        QTest::newRow("real, date and data")
            << labelled("x", "<key>r</key><real>1.5</real><key>d</key>"
                             "<date>2020-01-01T00:00:00Z</date><key>b</key><data>AAEC</data>")
            << false;
        QTest::newRow("space in an empty element")
            << labelled("x", "<key>R</key><true />") << false;
        QTest::newRow("no plist element")
            << QByteArray("<?xml version=\"1.0\"?><dict><key>Label</key><string>x</string></dict>")
            << false;
        QTest::newRow("text after the document") << labelled("x") + "junk" << false;
        QTest::newRow("two values at the top")
            << document("<dict><key>Label</key><string>x</string></dict><dict/>") << false;
        QTest::newRow("key without value") << dict("<key>Label</key>") << false;

        // Refused by both.
        QTest::newRow("byte order mark") << "\xEF\xBB\xBF" + labelled("x") << false;
        QTest::newRow("unknown entity") << labelled("a &foo; b") << false;
        QTest::newRow("bare ampersand") << labelled("a & b") << false;
        QTest::newRow("unclosed") << document("<dict><key>Label</key><string>x</string>") << false;
        QTest::newRow("mismatched close") << dict("<key>Label</key><string>x</array>") << false;
        QTest::newRow("unclosed CDATA") << labelled("<![CDATA[abc") << false;
        QTest::newRow("entities declared in the document")
            << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY e \"zz\">]><plist>"
                          "<dict><key>Label</key><string>&e;</string></dict></plist>")
            << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("white space only") << QByteArray("  \n") << false;
    }

    void agreesWithLibplist()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, readDirectly);
        const std::optional<QVariantMap> direct =
            PlistVariant::readXmlDictionary(bytes.constData(), bytes.size());
        const std::optional<QVariantMap> libplist = PlistVariant::readDictionaryWithLibplist(bytes);
        QCOMPARE(direct.has_value(), readDirectly);
        if (direct) {
            QVERIFY(libplist.has_value());
            QCOMPARE(*direct, *libplist);
        }
        const std::optional<QVariantMap> read = PlistVariant::readDictionary(bytes);
        QCOMPARE(read.has_value(), libplist.has_value());
        if (read)
            QCOMPARE(*read, *libplist);
    }

    // A read of some keys gives the whole read's values of those keys, and refuses what the
    // whole read refuses: the values of the other keys are still checked.
    void keepsOnlyTheKeysAskedFor_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("readDirectly");
        const QByteArray rest =
            "<key>EnvironmentVariables</key><dict><key>A</key><string>1</string>"
            "</dict><key>RunAtLoad</key><true/><key>Program</key>"
            "<string>/bin/true</string>";
        QTest::newRow("read directly") << labelled("job", rest) << true;
        QTest::newRow("left to libplist")
            << labelled("job", rest + "<key>Weight</key><real>0.5</real>") << false;
        QTest::newRow("a key left out holds a bare ampersand")
            << labelled("job", rest + "<key>Other</key><string>a & b</string>") << false;
        QTest::newRow("a key left out is unclosed")
            << document("<dict><key>Label</key><string>job</string><key>Other</key><array>")
            << false;
        QTest::newRow("keys asked for missing")
            << dict("<key>Other</key><string>x</string>") << true;
    }

    void keepsOnlyTheKeysAskedFor()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, readDirectly);
        static constexpr std::string_view keys[] = {"Label", "RunAtLoad", "Missing"};
        const PlistVariant::KeyFilter only(keys);
        const std::optional<QVariantMap> whole = PlistVariant::readDictionaryWithLibplist(bytes);
        const std::optional<QVariantMap> some = PlistVariant::readDictionary(bytes, only);
        QCOMPARE(PlistVariant::readXmlDictionary(bytes.constData(), bytes.size(), only).has_value(),
                 readDirectly);
        QCOMPARE(some.has_value(), whole.has_value());
        if (!whole)
            return;
        QVariantMap expected;
        for (const char* key : {"Label", "RunAtLoad", "Missing"}) {
            if (whole->contains(QLatin1String(key)))
                expected.insert(QLatin1String(key), whole->value(QLatin1String(key)));
        }
        QCOMPARE(*some, expected);
        QCOMPARE(*PlistVariant::readDictionaryWithLibplist(bytes, only), expected);
    }

    // Deeper than the reader goes: libplist decides.
    void deepNestingIsLeftToLibplist()
    {
        QByteArray nested = "<string>x</string>";
        for (int i = 0; i < 100; ++i)
            nested = "<array>" + nested + "</array>";
        const QByteArray bytes = labelled("deep", "<key>A</key>" + nested);
        QVERIFY(!PlistVariant::readXmlDictionary(bytes.constData(), bytes.size()));
        const auto read = PlistVariant::readDictionary(bytes);
        QCOMPARE(read.has_value(), PlistVariant::readDictionaryWithLibplist(bytes).has_value());
    }
};

QTEST_GUILESS_MAIN(TestPlistXml)
#include "TestPlistXml.moc"
