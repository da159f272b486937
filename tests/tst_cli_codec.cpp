#include "hostlib/CanLineParser.h"
#include "hostlib/HexCodec.h"
#include "hostlib/DataCodec.h"
#include "hostlib/PropertyAssigner.h"

#include <QRandomGenerator>
#include <QtTest>

// The text formats of pcom without a process: cansend lines, hex, the
// decoding of standard input and the checks of NAME=VALUE settings.
class tst_CliCodec : public QObject
{
    Q_OBJECT
private slots:
    void canLines_data();
    void canLines();
    void canParserSurvivesGarbage();
    void hexCodec();
    void inputDecoder();
    void takenBack();
};

// A line and the frame it gives (id, extended, payload in hex) with the
// frame's own notation, or the reason the line is refused.
void tst_CliCodec::canLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<uint>("id");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("formatted");
    QTest::addColumn<QString>("reason");
    const auto ok = [](const char *name, const QByteArray &line, uint id, bool extended, const QByteArray &hex,
                       const QByteArray &formatted) {
        QTest::newRow(name) << line << id << extended << QByteArray::fromHex(hex) << formatted << QString();
    };
    const auto bad = [](const char *name, const QByteArray &line, const char *reason) {
        QTest::newRow(name) << line << 0xABCu << false << QByteArray() << QByteArray() << QString::fromLatin1(reason);
    };
    const QByteArray twelve = QByteArray("AB").repeated(12);
    const QByteArray zeros(128, '0');
    ok("base", "123#DEADBEEF", 0x123, false, "DEADBEEF", "123#DEADBEEF");
    ok("extended dotted", "1F334455#11.22.33", 0x1F334455, true, "112233", "1F334455#112233");
    ok("empty", "123#", 0x123, false, "", "123#");
    ok("lower case", "7ff#0a0b", 0x7FF, false, "0a0b", "7FF#0A0B");
    ok("eight bytes", "000#0011223344556677", 0, false, "0011223344556677", "000#0011223344556677");
    ok("blanks and CR", "  123#01\r", 0x123, false, "01", "123#01");
    ok("extended max", "1FFFFFFF#FF", 0x1FFFFFFF, true, "FF", "1FFFFFFF#FF");
    ok("extended small id", "00000005#", 5, true, "", "005#");
    ok("extended above 7FF", "00000800#01", 0x800, true, "01", "00000800#01");
    ok("fd", "123##1AAAAAAAAAAAA", 0x123, false, "AAAAAAAAAAAA", "123#AAAAAAAAAAAA");
    ok("fd twelve bytes", "010##0" + twelve, 0x10, false, twelve, "010##0" + twelve);
    ok("fd 64 bytes", "1FFFFFFF##0" + zeros, 0x1FFFFFFF, true, zeros, "1FFFFFFF##0" + zeros);
    bad("no hash", "123DEADBEEF", "no '#'");
    bad("four-digit id", "1234#00", "3 hex digits");
    bad("id not hex", "G23#00", "not hexadecimal");
    bad("base id too big", "800#00", "above 7FF");
    bad("extended id too big", "20000000#", "above 1FFFFFFF");
    bad("half byte", "123#ABC", "half a byte");
    bad("data not hex", "123#0G", "column 6");
    bad("nine bytes", "123#001122334455667788", "more than 8");
    bad("remote request", "123#R", "remote request");
    bad("fd without flags", "123##", "flags");
    bad("fd too long", "123##0" + QByteArray(130, '1'), "more than 64");
    bad("control byte", QByteArray("1\x01" "3#00", 6), "\\x01");
}

void tst_CliCodec::canLines()
{
    QFETCH(QByteArray, line);
    QFETCH(uint, id);
    QFETCH(bool, extended);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, formatted);
    QFETCH(QString, reason);
    CanLineParser::Frame frame;
    frame.id = 0xABC;
    QString error;
    QCOMPARE(CanLineParser::parse(line, &frame, &error), reason.isEmpty());
    QVERIFY2(error.contains(reason), qPrintable(error));
    // A refused line leaves the frame as it was.
    QCOMPARE(frame.id, id);
    QCOMPARE(frame.extended, extended);
    QCOMPARE(frame.payload, payload);
    if (reason.isEmpty())
        QCOMPARE(CanLineParser::format(frame.id, frame.payload), formatted);
}

// Random lines, biased towards the characters of the notation: the parser
// never accepts what it cannot write back the same way.
void tst_CliCodec::canParserSurvivesGarbage()
{
    QRandomGenerator random(20240607);
    const QByteArray alphabet("0123456789abcdefABCDEFR#.#\r\n \x00\xff", 31);
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        QByteArray line;
        for (int i = int(random.bounded(40)); i > 0; --i)
            line.append(alphabet.at(int(random.bounded(alphabet.size()))));
        CanLineParser::Frame frame;
        CanLineParser::Frame again;
        QString error;
        if (!CanLineParser::parse(line, &frame, &error)) {
            QVERIFY(!error.isEmpty());
            continue;
        }
        ++accepted;
        QVERIFY(frame.payload.size() <= CanLineParser::maxFlexiblePayload && frame.id <= 0x1FFFFFFFu);
        QVERIFY(CanLineParser::parse(CanLineParser::format(frame.id, frame.payload), &again, &error));
        QVERIFY(again.id == frame.id && again.payload == frame.payload);
    }
    QVERIFY(accepted > 0);
}

void tst_CliCodec::hexCodec()
{
    QByteArray out;
    QString error;
    QVERIFY(HexCodec::decode("0xDEAD\tbe ef 00", &out, &error));
    QCOMPARE(out, QByteArray::fromHex("deadbeef00"));
    QVERIFY(HexCodec::decode("", &out, &error) && out.isEmpty());

    // A refused text leaves the output as it was and says where it went wrong.
    out = "kept";
    QVERIFY(!HexCodec::decode("ab c", &out, &error));
    QVERIFY2(error.contains("odd number") && error.contains("column 4"), qPrintable(error));
    QVERIFY(!HexCodec::decode("abzz", &out, &error));
    QVERIFY2(error.contains("'z'") && error.contains("column 3"), qPrintable(error));
    QVERIFY(!HexCodec::decode("a\x01", &out, &error));
    QVERIFY2(error.contains("0x01"), qPrintable(error));
    QVERIFY(!HexCodec::decode("0x", &out, &error));
    QCOMPARE(out, QByteArray("kept"));

    QCOMPARE(HexCodec::dump("0123456789abcde\n\x81", 32),
             QByteArray("00000020  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 0a  |0123456789abcde.|\n"
                        "00000030  81                                                |.|\n"));
}

void tst_CliCodec::inputDecoder()
{
    // Lines arrive cut at arbitrary places; bad ones are reported by number.
    DataCodec frames(DataCodec::Frames);
    QList<DataCodec::Item> items;
    QList<DataCodec::Problem> problems;
    frames.feed("123#DE", &items, &problems);
    QVERIFY(items.isEmpty());
    frames.feed("AD\r\nbad line\n\n1F334455#11.", &items, &problems);
    frames.feed("22.33\n800#00\n456#", &items, &problems);
    // The last line has no line end.
    frames.finish(&items, &problems);
    QCOMPARE(items.size(), 3);
    QVERIFY(items[0].frameId == 0x123u && items[0].data == QByteArray::fromHex("DEAD") && items[0].line == 1);
    QVERIFY(items[1].frameId == 0x1F334455u && items[1].line == 4);
    QVERIFY(items[2].frameId == 0x456u && items[2].data.isEmpty() && items[2].line == 6);
    QCOMPARE(problems.size(), 2);
    QVERIFY(problems[0].line == 2 && problems[1].line == 5 && problems[1].message.contains("7FF"));

    // An endless line is reported once and skipped; the next one counts.
    DataCodec longLines(DataCodec::Frames);
    items.clear();
    problems.clear();
    for (int i = 0; i < 70; ++i)
        longLines.feed(QByteArray(1000, '1'), &items, &problems);
    longLines.feed("\n321#01\n", &items, &problems);
    QCOMPARE(problems.size(), 1);
    QVERIFY(problems[0].line == 1 && problems[0].message.contains("longer"));
    QCOMPARE(items.size(), 1);
    QVERIFY(items[0].frameId == 0x321u && items[0].line == 2);
}

// A value outside the options counts when the port reads it back, a
// device path when the port reads back its last part.
void tst_CliCodec::takenBack()
{
    QVERIFY(PropertyAssigner::takenBack(QStringLiteral("12345"), QVariant(12345)));
    QVERIFY(!PropertyAssigner::takenBack(QStringLiteral("abc0"), QVariant(0)));
    QVERIFY(PropertyAssigner::takenBack(QStringLiteral("/dev/pts/3"), QVariant(QStringLiteral("pts/3"))));
    QVERIFY(!PropertyAssigner::takenBack(QStringLiteral("xpts/3"), QVariant(QStringLiteral("pts/3"))));
    QVERIFY(!PropertyAssigner::takenBack(QStringLiteral("x"), QVariant()));
}

QTEST_GUILESS_MAIN(tst_CliCodec)
#include "tst_cli_codec.moc"
