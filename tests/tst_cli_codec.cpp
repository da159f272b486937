#include "hostlib/CanLineParser.h"
#include "hostlib/HexCodec.h"
#include "hostlib/DataCodec.h"
#include "hostlib/PropertyAssigner.h"

#include <QRandomGenerator>
#include <QtTest>

// The text formats of pcom without a process: CAN lines and filters, hex, the
// decoding of standard input and the checks of NAME=VALUE settings.
class tst_CliCodec : public QObject
{
    Q_OBJECT
private slots:
    void canLines_data();
    void canLines();
    void canFilters();
    void canParserSurvivesGarbage();
    void hexCodec();
    void inputDecoder();
    void takenBack();
};

// A line and the frame it gives, shown in the cansend and candump forms, or
// the reason the line is refused.
void tst_CliCodec::canLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("cansend");
    QTest::addColumn<QByteArray>("candump");
    QTest::addColumn<QString>("reason");
    const auto ok = [](const char *name, const QByteArray &line, const QByteArray &cansend, const QByteArray &candump) {
        QTest::newRow(name) << line << cansend << candump << QString();
    };
    const auto bad = [](const char *name, const QByteArray &line, const char *reason) {
        QTest::newRow(name) << line << QByteArray() << QByteArray() << QString::fromLatin1(reason);
    };
    const QByteArray twelve = QByteArray("AB").repeated(12);
    const QByteArray zeros(128, '0');
    ok("base", "123#DEADBEEF", "123#DEADBEEF", "can0  123   [4]  DE AD BE EF");
    ok("extended dotted", "1F334455#11.22.33", "1F334455#112233", "can0  1F334455   [3]  11 22 33");
    ok("empty", "123#", "123#", "can0  123   [0]");
    ok("lower case", "7ff#0a0b", "7FF#0A0B", "can0  7FF   [2]  0A 0B");
    ok("blanks and CR", "  123#01\r", "123#01", "can0  123   [1]  01");
    ok("extended small id", "00000005#", "00000005#", "can0  00000005   [0]");
    ok("extended max", "1FFFFFFF#FF", "1FFFFFFF#FF", "can0  1FFFFFFF   [1]  FF");
    ok("remote", "123#R", "123#R", "can0  123   [0]  remote request");
    ok("remote extended with length", "00000123#r4", "00000123#R4", "can0  00000123   [4]  remote request");
    ok("fd", "123##1AAAAAAAAAAAA", "123##1AAAAAAAAAAAA", "can0  123  [06]  AA AA AA AA AA AA");
    ok("fd both flags", "123##3", "123##3", "can0  123  [00]");
    ok("fd twelve bytes", "010##0" + twelve, "010##0" + twelve,
       "can0  010  [12]  " + QByteArray("AB ").repeated(11) + "AB");
    ok("fd 64 bytes", "1FFFFFFF##0" + zeros, "1FFFFFFF##0" + zeros.left(128),
       "can0  1FFFFFFF  [64]  " + QByteArray("00 ").repeated(63) + "00");
    bad("no hash", "123DEADBEEF", "no '#'");
    bad("four-digit id", "1234#00", "3 hex digits");
    bad("id not hex", "G23#00", "not hexadecimal");
    bad("base id too big", "800#00", "above 7FF");
    bad("extended id too big", "20000000#", "above 1FFFFFFF");
    bad("half byte", "123#ABC", "half a byte");
    bad("data not hex", "123#0G", "column 6");
    bad("nine bytes", "123#001122334455667788", "more than 8");
    bad("remote length", "123#R9", "length from 0 to 8");
    bad("fd without flags", "123##", "flags");
    bad("fd too long", "123##0" + QByteArray(130, '1'), "more than 64");
    bad("fd length between sizes", "123##0" + QByteArray(18, '1'), "9 data bytes");
    bad("control byte", QByteArray("1\x01" "3#00", 6), "\\x01");
}

void tst_CliCodec::canLines()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, cansend);
    QFETCH(QByteArray, candump);
    QFETCH(QString, reason);
    const QCanBusFrame before(0xABC, "kept");
    QCanBusFrame frame = before;
    QString error;
    QCOMPARE(CanLineParser::parse(line, &frame, &error), reason.isEmpty());
    QVERIFY2(error.contains(reason), qPrintable(error));
    if (!reason.isEmpty()) {
        // A refused line leaves the frame as it was.
        QCOMPARE(CanLineParser::format(frame), CanLineParser::format(before));
        return;
    }
    QCOMPARE(CanLineParser::format(frame), cansend);
    QCOMPARE(CanLineParser::formatCandump(frame, "can0"), candump);
}

// Filters pass a frame when any of them does; error frames always pass.
void tst_CliCodec::canFilters()
{
    const auto pass = [](const QStringList &texts, const QByteArray &line) {
        QList<CanLineParser::Filter> filters;
        for (const QString &text : texts) {
            CanLineParser::Filter f;
            QString error;
            if (!CanLineParser::parseFilter(text, &f, &error))
                return -1;
            filters.append(f);
        }
        QCanBusFrame frame;
        return CanLineParser::parse(line, &frame, nullptr) && CanLineParser::passes(filters, frame) ? 1 : 0;
    };
    QCOMPARE(pass({}, "124#"), 1);
    QCOMPARE(pass({"123:7FF"}, "123#01"), 1);
    QCOMPARE(pass({"123:7FF"}, "124#01"), 0);
    QCOMPARE(pass({"~123:7FF"}, "123#01"), 0);
    QCOMPARE(pass({"123~7FF"}, "124#01"), 1);
    QCOMPARE(pass({"100:700"}, "1FF#"), 1);
    QCOMPARE(pass({"100:700"}, "200#"), 0);
    QCOMPARE(pass({"00000123:1FFFFFFF"}, "00000123#"), 1);
    QCOMPARE(pass({"00000123:1FFFFFFF"}, "123#"), 0);
    QCOMPARE(pass({"123:7FF", "200:7FF"}, "200#R"), 1);
    for (const char *bad : {"12G:7FF", "123", "~123~7FF", "123:7FF:1"})
        QCOMPARE(pass({bad}, "123#"), -1);

    QCanBusFrame error(QCanBusFrame::ErrorFrame);
    error.setError(QCanBusFrame::BusOffError | QCanBusFrame::ControllerRestartError);
    QVERIFY(CanLineParser::passes({CanLineParser::Filter{0x123, 0x7FF, false, false}}, error));
    QCOMPARE(CanLineParser::format(error), QByteArray("ERRORFRAME bus off, controller restarted"));
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
        QCanBusFrame frame;
        QCanBusFrame again;
        QString error;
        if (!CanLineParser::parse(line, &frame, &error)) {
            QVERIFY(!error.isEmpty());
            continue;
        }
        ++accepted;
        QVERIFY(frame.isValid());
        QVERIFY(CanLineParser::parse(CanLineParser::format(frame), &again, &error));
        QCOMPARE(CanLineParser::format(again), CanLineParser::format(frame));
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
    QVERIFY(items[0].frame.frameId() == 0x123u && items[0].frame.payload() == QByteArray::fromHex("DEAD")
            && items[0].line == 1);
    QVERIFY(items[1].frame.frameId() == 0x1F334455u && items[1].line == 4);
    QVERIFY(items[2].frame.frameId() == 0x456u && items[2].frame.payload().isEmpty() && items[2].line == 6);
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
    QVERIFY(items[0].frame.frameId() == 0x321u && items[0].line == 2);
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
