#include "PlistVariant.h"

#include <QTest>

#include <plist/plist.h>

namespace {

// The binary form libplist writes of an XML property list whose top dictionary holds `body`.
QByteArray binaryOf(const QByteArray& body)
{
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                           "<dict>" +
                           body + "</dict></plist>\n";
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    if (!root)
        return {};
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    plist_free(root);
    const QByteArray binary(bytes, qsizetype(length));
    plist_to_bin_free(bytes);
    return binary;
}

void putBigEndian(QByteArray& bytes, qsizetype at, quint64 value)
{
    for (int i = 7; i >= 0; --i, value >>= 8)
        bytes[at + i] = char(value & 0xFF);
}

// A binary plist made by hand: `objects` encoded as they are (references one byte wide,
// offsets two), `top` the top object.
QByteArray bplist(const QList<QByteArray>& objects, int top = 0)
{
    QByteArray bytes = "bplist00";
    QList<qsizetype> offsets;
    for (const QByteArray& object : objects) {
        offsets << bytes.size();
        bytes += object;
    }
    const qsizetype table = bytes.size();
    for (const qsizetype offset : offsets) {
        bytes.append(char(offset >> 8));
        bytes.append(char(offset & 0xFF));
    }
    QByteArray trailer(32, '\0');
    trailer[6] = 2;
    trailer[7] = 1;
    putBigEndian(trailer, 8, quint64(objects.size()));
    putBigEndian(trailer, 16, quint64(top));
    putBigEndian(trailer, 24, quint64(table));
    return bytes + trailer;
}

const QByteArray labelKey = "\x55Label";

} // namespace

// The direct binary reader against libplist: whatever the reader takes must give exactly what
// libplist gives, and whatever it leaves goes to libplist, which decides as before.
class TestPlistBinary : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void agreesWithLibplist_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("readDirectly");

        QTest::newRow("launchd job")
            << binaryOf("<key>Label</key><string>org.example.job</string>"
                        "<key>ProgramArguments</key><array><string>/bin/sh</string>"
                        "<string>-c</string><string>echo hi</string></array>"
                        "<key>StartCalendarInterval</key><dict><key>Hour</key><integer>3</integer>"
                        "<key>Minute</key><integer>30</integer></dict>"
                        "<key>KeepAlive</key><dict><key>SuccessfulExit</key><false/></dict>"
                        "<key>RunAtLoad</key><true/>")
            << true;
        QTest::newRow("integers of every width")
            << binaryOf("<key>a</key><integer>0</integer><key>b</key><integer>255</integer>"
                        "<key>c</key><integer>65535</integer><key>d</key><integer>65536</integer>"
                        "<key>e</key><integer>4294967296</integer>"
                        "<key>f</key><integer>-1</integer>"
                        "<key>g</key><integer>-9223372036854775808</integer>")
            << true;
        QTest::newRow("reals and data")
            << binaryOf("<key>r</key><real>0.5</real><key>s</key><real>-1e300</real>"
                        "<key>d</key><data>AAEC/w==</data><key>e</key><data></data>")
            << true;
        QTest::newRow("long array and string (count after the marker)")
            << binaryOf("<key>Label</key><string>a label of more than fifteen characters</string>"
                        "<key>A</key><array>" +
                        QByteArray("<integer>7</integer>").repeated(20) + "</array>")
            << true;
        QTest::newRow("nested and empty containers")
            << binaryOf("<key>A</key><array><dict><key>k</key><array><true/></array></dict>"
                        "<array/></array><key>D</key><dict/><key></key><string></string>")
            << true;
        QTest::newRow("a shared object") << bplist({"\xD2\x01\x03\x02\x02", labelKey, "\x51x",
                                                    "\x51"
                                                    "B"})
                                         << true;

        // Left to libplist, which decides.
        QTest::newRow("text past ASCII")
            << binaryOf("<key>Label</key><string>Grüße</string>") << false;
        QTest::newRow("a date") << binaryOf("<key>Label</key><string>x</string>"
                                            "<key>When</key><date>2024-05-01T10:00:00Z</date>")
                                << false;
        QTest::newRow("sixteen-byte integer")
            << bplist({"\xD1\x01\x02", labelKey, "\x14" + QByteArray(15, '\0') + "\x01"}) << false;
        QTest::newRow("a key twice")
            << bplist({"\xD2\x01\x01\x02\x03", labelKey, "\x51x", "\x51y"}) << false;
        QTest::newRow("an array holding itself")
            << bplist({"\xD2\x01\x03\x02\x04", labelKey, "\x51x",
                       "\x51"
                       "A",
                       "\xA1\x04"})
            << false;
        QTest::newRow("top is an array") << bplist({"\xA1\x01", "\x51x"}) << false;
        QTest::newRow("a reference past the objects")
            << bplist({"\xD1\x01\x09", labelKey}) << false;
        QTest::newRow("a string longer than the objects")
            << bplist({"\xD1\x01\x02", labelKey, "\x5Fx"}) << false;
        QTest::newRow("cut short")
            << binaryOf("<key>Label</key><string>x</string>").chopped(3) << false;
        QTest::newRow("header only") << QByteArray("bplist00") << false;
    }

    void agreesWithLibplist()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, readDirectly);
        QVERIFY(bytes.startsWith("bplist00"));
        const std::optional<QVariantMap> direct =
            PlistVariant::readBinaryDictionary(bytes.constData(), bytes.size());
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
        const QByteArray rest = "<key>EnvironmentVariables</key><dict><key>A</key>"
                                "<string>1</string></dict><key>RunAtLoad</key><true/>";
        QTest::newRow("read directly")
            << binaryOf("<key>Label</key><string>job</string>" + rest) << true;
        QTest::newRow("a key left out holds a date")
            << binaryOf("<key>Label</key><string>job</string>" + rest +
                        "<key>When</key><date>2024-05-01T10:00:00Z</date>")
            << false;
        QTest::newRow("a key left out leads nowhere")
            << bplist({"\xD2\x01\x03\x02\x09", labelKey, "\x51x",
                       "\x51"
                       "B"})
            << false;
        QTest::newRow("keys asked for missing")
            << binaryOf("<key>Other</key><string>x</string>") << true;
    }

    void keepsOnlyTheKeysAskedFor()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, readDirectly);
        static constexpr std::string_view keys[] = {"Label", "RunAtLoad", "Missing"};
        const PlistVariant::KeyFilter only(keys);
        const std::optional<QVariantMap> whole = PlistVariant::readDictionaryWithLibplist(bytes);
        const std::optional<QVariantMap> some = PlistVariant::readDictionary(bytes, only);
        QCOMPARE(
            PlistVariant::readBinaryDictionary(bytes.constData(), bytes.size(), only).has_value(),
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
    }
};

QTEST_GUILESS_MAIN(TestPlistBinary)
#include "TestPlistBinary.moc"
