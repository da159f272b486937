#include "CanLineParser.h"
#include "HexCodec.h"
#include "InputDecoder.h"
#include "OutputEncoder.h"
#include "PropertyAssigner.h"
#include "TavlinProperty.h"
#include "TavlinProperty_RegexValidator.h"

#include <QIntValidator>
#include <QRandomGenerator>
#include <QtTest>

// The text formats of pcom without a process: cansend lines, hex, the
// decoding of standard input and the checks of NAME=VALUE settings.
class tst_CliCodec : public QObject
{
    Q_OBJECT
private slots:
    void canLinesAccepted_data();
    void canLinesAccepted();
    void canLinesRejected_data();
    void canLinesRejected();
    void canFormatRoundTrip();
    void canParserSurvivesGarbage();
    void hexCodec();
    void inputDecoderFrames();
    void inputDecoderHexAndRaw();
    void outputEncoder();
    void propertyChecks();
};

void tst_CliCodec::canLinesAccepted_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<uint>("id");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("base") << QByteArray("123#DEADBEEF") << 0x123u << false << QByteArray::fromHex("DEADBEEF");
    QTest::newRow("extended dotted") << QByteArray("1F334455#11.22.33") << 0x1F334455u << true
                                     << QByteArray::fromHex("112233");
    QTest::newRow("empty") << QByteArray("123#") << 0x123u << false << QByteArray();
    QTest::newRow("lower case") << QByteArray("7ff#0a0b") << 0x7FFu << false << QByteArray::fromHex("0a0b");
    QTest::newRow("eight bytes") << QByteArray("000#0011223344556677") << 0u << false
                                 << QByteArray::fromHex("0011223344556677");
    QTest::newRow("blanks and CR") << QByteArray("  123#01\r") << 0x123u << false << QByteArray("\x01", 1);
    QTest::newRow("extended max") << QByteArray("1FFFFFFF#FF") << 0x1FFFFFFFu << true << QByteArray("\xff", 1);
    QTest::newRow("extended small id") << QByteArray("00000005#") << 5u << true << QByteArray();
    QTest::newRow("fd") << QByteArray("123##1" + QByteArray(12, 'A')) << 0x123u << false
                        << QByteArray(6, char(0xAA));
}

void tst_CliCodec::canLinesAccepted()
{
    QFETCH(QByteArray, line);
    QFETCH(uint, id);
    QFETCH(bool, extended);
    QFETCH(QByteArray, payload);
    CanLineParser::Frame frame;
    QString error;
    QVERIFY2(CanLineParser::parse(line, &frame, &error), qPrintable(error));
    QCOMPARE(frame.id, id);
    QCOMPARE(frame.extended, extended);
    QCOMPARE(frame.payload, payload);
}

void tst_CliCodec::canLinesRejected_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("reason");

    QTest::newRow("no hash") << QByteArray("123DEADBEEF") << QStringLiteral("no '#'");
    QTest::newRow("two-digit id") << QByteArray("12#00") << QStringLiteral("3 hex digits");
    QTest::newRow("four-digit id") << QByteArray("1234#00") << QStringLiteral("3 hex digits");
    QTest::newRow("id not hex") << QByteArray("G23#00") << QStringLiteral("not hexadecimal");
    QTest::newRow("base id too big") << QByteArray("800#00") << QStringLiteral("above 7FF");
    QTest::newRow("extended id too big") << QByteArray("20000000#") << QStringLiteral("above 1FFFFFFF");
    QTest::newRow("half byte") << QByteArray("123#ABC") << QStringLiteral("half a byte");
    QTest::newRow("data not hex") << QByteArray("123#0G") << QStringLiteral("column 6");
    QTest::newRow("nine bytes") << QByteArray("123#001122334455667788") << QStringLiteral("more than 8");
    QTest::newRow("remote request") << QByteArray("123#R") << QStringLiteral("remote request");
    QTest::newRow("fd without flags") << QByteArray("123##") << QStringLiteral("flags");
    QTest::newRow("fd too long") << QByteArray("123##0" + QByteArray(130, '1')) << QStringLiteral("more than 64");
    QTest::newRow("empty") << QByteArray("") << QStringLiteral("no '#'");
    QTest::newRow("control byte") << QByteArray("1\x01" "3#00", 6) << QStringLiteral("\\x01");
}

void tst_CliCodec::canLinesRejected()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, reason);
    CanLineParser::Frame frame;
    frame.id = 0xABC;
    QString error;
    QVERIFY(!CanLineParser::parse(line, &frame, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(frame.id, 0xABCu);
}

void tst_CliCodec::canFormatRoundTrip()
{
    QCOMPARE(CanLineParser::format(0x123, QByteArray::fromHex("DEADBEEF")), QByteArray("123#DEADBEEF"));
    QCOMPARE(CanLineParser::format(0x1F334455, QByteArray::fromHex("112233")), QByteArray("1F334455#112233"));
    QCOMPARE(CanLineParser::format(0x5, QByteArray()), QByteArray("005#"));
    QCOMPARE(CanLineParser::format(0x800, QByteArray("\x01", 1)), QByteArray("00000800#01"));
    QCOMPARE(CanLineParser::format(0x10, QByteArray(12, char(0xAB))), QByteArray("010##0" + QByteArray(12, 'A').replace("A", "AB")));

    const QList<QPair<quint32, QByteArray>> frames{{0, {}}, {0x7FF, QByteArray(8, '\xff')}, {0x800, "x"},
                                                   {0x1FFFFFFF, QByteArray(64, '\0')}, {0x42, QByteArray(9, 'z')}};
    for (const auto &f : frames) {
        CanLineParser::Frame back;
        QString error;
        QVERIFY2(CanLineParser::parse(CanLineParser::format(f.first, f.second), &back, &error), qPrintable(error));
        QCOMPARE(back.id, f.first);
        QCOMPARE(back.payload, f.second);
    }
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
        const int length = int(random.bounded(40));
        for (int i = 0; i < length; ++i)
            line.append(alphabet.at(int(random.bounded(alphabet.size()))));
        CanLineParser::Frame frame;
        QString error;
        if (!CanLineParser::parse(line, &frame, &error)) {
            QVERIFY(!error.isEmpty());
            continue;
        }
        ++accepted;
        QVERIFY(frame.payload.size() <= CanLineParser::maxFlexiblePayload);
        QVERIFY(frame.id <= 0x1FFFFFFFu);
        CanLineParser::Frame again;
        QVERIFY(CanLineParser::parse(CanLineParser::format(frame.id, frame.payload), &again, &error));
        QCOMPARE(again.id, frame.id);
        QCOMPARE(again.payload, frame.payload);
    }
    QVERIFY(accepted > 0);
}

void tst_CliCodec::hexCodec()
{
    QCOMPARE(HexCodec::encode(QByteArray("\x00\x7f\x80\xff", 4)), QByteArray("007F80FF"));

    QByteArray out;
    QString error;
    QVERIFY(HexCodec::decode("de ad BE EF", &out, &error));
    QCOMPARE(out, QByteArray::fromHex("deadbeef"));
    QVERIFY(HexCodec::decode("0xDEAD\tbeef 00", &out, &error));
    QCOMPARE(out, QByteArray::fromHex("deadbeef00"));
    QVERIFY(HexCodec::decode("", &out, &error));
    QVERIFY(out.isEmpty());

    out = "kept";
    QVERIFY(!HexCodec::decode("ab c", &out, &error));
    QVERIFY2(error.contains("odd number") && error.contains("column 4"), qPrintable(error));
    QCOMPARE(out, QByteArray("kept"));
    QVERIFY(!HexCodec::decode("abzz", &out, &error));
    QVERIFY2(error.contains("'z'") && error.contains("column 3"), qPrintable(error));
    QVERIFY(!HexCodec::decode("0x", &out, &error));
    QVERIFY(!HexCodec::decode("a\x01", &out, &error));
    QVERIFY2(error.contains("0x01"), qPrintable(error));

    QCOMPARE(HexCodec::dump("hello\n", 0),
             QByteArray("00000000  68 65 6c 6c 6f 0a                                 |hello.|\n"));
    const QByteArray seventeen("0123456789abcdefg");
    const QByteArray dump = HexCodec::dump(seventeen, 32);
    const QList<QByteArray> lines = dump.split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0),
             QByteArray("00000020  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  |0123456789abcdef|"));
    QVERIFY(lines.at(1).startsWith("00000030  67 "));
    QVERIFY(lines.at(1).endsWith("|g|"));
}

void tst_CliCodec::inputDecoderFrames()
{
    InputDecoder decoder(InputDecoder::Frames);
    QList<InputDecoder::Item> items;
    QList<InputDecoder::Problem> problems;

    // Lines arrive cut at arbitrary places.
    decoder.feed("123#DE", &items, &problems);
    QVERIFY(items.isEmpty());
    decoder.feed("AD\r\nbad line\n\n1F334455#11.", &items, &problems);
    decoder.feed("22.33\n800#00\n456#", &items, &problems);
    QCOMPARE(items.size(), 2);
    QCOMPARE(items.at(0).frameId, 0x123u);
    QCOMPARE(items.at(0).data, QByteArray::fromHex("DEAD"));
    QCOMPARE(items.at(0).line, qint64(1));
    QCOMPARE(items.at(1).frameId, 0x1F334455u);
    QCOMPARE(items.at(1).line, qint64(4));
    QCOMPARE(problems.size(), 2);
    QCOMPARE(problems.at(0).line, qint64(2));
    QCOMPARE(problems.at(1).line, qint64(5));
    QVERIFY(problems.at(1).message.contains("7FF"));

    // The last line has no line end.
    decoder.finish(&items, &problems);
    QCOMPARE(items.size(), 3);
    QCOMPARE(items.at(2).frameId, 0x456u);
    QVERIFY(items.at(2).data.isEmpty());
    QCOMPARE(items.at(2).line, qint64(6));

    // An endless line is reported once and skipped; the next one counts.
    InputDecoder longLines(InputDecoder::Frames);
    items.clear();
    problems.clear();
    const QByteArray chunk(1000, '1');
    for (int i = 0; i < 70; ++i)
        longLines.feed(chunk, &items, &problems);
    longLines.feed("\n321#01\n", &items, &problems);
    QCOMPARE(problems.size(), 1);
    QCOMPARE(problems.at(0).line, qint64(1));
    QVERIFY(problems.at(0).message.contains("longer"));
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.at(0).frameId, 0x321u);
    QCOMPARE(items.at(0).line, qint64(2));
}

void tst_CliCodec::inputDecoderHexAndRaw()
{
    InputDecoder hex(InputDecoder::Hex);
    QList<InputDecoder::Item> items;
    QList<InputDecoder::Problem> problems;
    hex.feed("68 65 6c\n  \nzz\n6c6f", &items, &problems);
    hex.finish(&items, &problems);
    QCOMPARE(items.size(), 2);
    QCOMPARE(items.at(0).data, QByteArray("hel"));
    QCOMPARE(items.at(1).data, QByteArray("lo"));
    QCOMPARE(items.at(1).line, qint64(4));
    QCOMPARE(problems.size(), 1);
    QCOMPARE(problems.at(0).line, qint64(3));

    InputDecoder raw(InputDecoder::Raw);
    items.clear();
    problems.clear();
    const QByteArray binary("a\nb\x00\xff#", 6);
    raw.feed(binary, &items, &problems);
    raw.feed(QByteArray(), &items, &problems);
    raw.finish(&items, &problems);
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.at(0).data, binary);
    QVERIFY(problems.isEmpty());
}

void tst_CliCodec::outputEncoder()
{
    OutputEncoder frames(OutputEncoder::Frames);
    QCOMPARE(frames.encode(QByteArray::fromHex("0102"), 0x7F), QByteArray("07F#0102\n"));
    QCOMPARE(frames.encode(QByteArray(), 0x12345), QByteArray("00012345#\n"));

    OutputEncoder hex(OutputEncoder::Hex);
    QVERIFY(hex.encode(QByteArray(20, 'x'), 0).startsWith("00000000  78"));
    QVERIFY(hex.encode("y", 0).startsWith("00000014  79"));

    OutputEncoder raw(OutputEncoder::Raw);
    QCOMPARE(raw.encode(QByteArray("\x00\x01", 2), 9), QByteArray("\x00\x01", 2));
}

void tst_CliCodec::propertyChecks()
{
    TavlinProperty port(QStringLiteral("port"), TavlinProperty::FreeText, true, QStringLiteral("0"), true, false);
    port.setValidator(new QIntValidator(0, 65535));
    QVERIFY(PropertyAssigner::rejection(QStringLiteral("tcpClient"), &port, QStringLiteral("5000")).isEmpty());
    QCOMPARE(PropertyAssigner::rejection(QStringLiteral("tcpClient"), &port, QStringLiteral("70000")),
             QStringLiteral("expected an integer from 0 to 65535"));

    TavlinProperty address(QStringLiteral("address"), TavlinProperty::FreeText, true, QString(), true, false);
    address.setValidator(new TavlinProperty_RegexValidator(TavlinProperty_RegexValidator::IpAddress));
    QVERIFY(PropertyAssigner::rejection(QStringLiteral("tcpClient"), &address, QStringLiteral("127.0.0.1")).isEmpty());
    QVERIFY(PropertyAssigner::rejection(QStringLiteral("tcpClient"), &address, QStringLiteral("300.1.1.1")).contains("IPv4"));

    // A TCP server listens on every address for "any"; a client has no such word.
    QVERIFY(PropertyAssigner::rejection(QStringLiteral("tcpServer"), &address, QStringLiteral("any")).isEmpty());
    QVERIFY(!PropertyAssigner::rejection(QStringLiteral("tcpServer"), &address, QStringLiteral("all")).isEmpty());
    QCOMPARE(PropertyAssigner::expectation(QStringLiteral("tcpServer"), &address),
             QStringLiteral("an IPv4 address such as 127.0.0.1, or any"));

    TavlinProperty flag(QStringLiteral("connect"), TavlinProperty::Boolean, true, QString(), false, true);
    QVERIFY(PropertyAssigner::rejection(QStringLiteral("tcpClient"), &flag, QStringLiteral("maybe")).contains("true or false"));

    QVERIFY(PropertyAssigner::takenBack(QStringLiteral("12345"), QVariant(12345)));
    QVERIFY(!PropertyAssigner::takenBack(QStringLiteral("abc"), QVariant(0)));
    QVERIFY(!PropertyAssigner::takenBack(QStringLiteral("abc0"), QVariant(0)));
    QVERIFY(PropertyAssigner::takenBack(QStringLiteral("/dev/pts/3"), QVariant(QStringLiteral("pts/3"))));
    QVERIFY(!PropertyAssigner::takenBack(QStringLiteral("xpts/3"), QVariant(QStringLiteral("pts/3"))));
    QVERIFY(!PropertyAssigner::takenBack(QStringLiteral("x"), QVariant()));

    const PropertyAssigner::Assignment a = PropertyAssigner::parse(QStringLiteral("address=a=b"));
    QCOMPARE(a.name, QStringLiteral("address"));
    QCOMPARE(a.value, QStringLiteral("a=b"));
    QVERIFY(a.hasValue);
    const PropertyAssigner::Assignment b = PropertyAssigner::parse(QStringLiteral("port"));
    QVERIFY(!b.hasValue);
    const PropertyAssigner::Assignment c = PropertyAssigner::parse(QStringLiteral("port="));
    QVERIFY(c.hasValue);
    QVERIFY(c.value.isEmpty());
}

QTEST_GUILESS_MAIN(tst_CliCodec)
#include "tst_cli_codec.moc"
