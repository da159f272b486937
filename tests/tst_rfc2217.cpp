#include "core/PCom_SerialLine.h"
#include "hostlib/Rfc2217Clients.h"

#include <QtTest>

// The RFC 2217 server's protocol without a socket: what two clients send on
// the wire, in pieces, against a line that notes every call. A row's script
// has steps separated by '|': "a HEX" / "b HEX" bytes from client 1 / 2
// (both joined at the start), "join a" / "leave b", "poll MODEM e|b" (the
// line's modem lines as QSerialPort bits in hex, its transmitter empty or
// busy: the notices due), "line HEX" (the line's bytes as every client gets
// them, told to client 1), "hold" (whether the line's data is held back, as
// a call). Out come the bytes for the line, what each client was sent, and
// the line's calls ("!" where it refused).
class tst_Rfc2217 : public QObject
{
    Q_OBJECT
private slots:
    void session_data();
    void session();
};

namespace {

// Refuses speeds above 1 Mbit/s, 5 and 6 data bits, mark and space parity,
// 1.5 stop bits and the break.
class FakeLine : public PCom_SerialLine
{
public:
    QStringList calls;
    int baud = 9600, bits = 8, modem = 0;
    QString par = "none", stop = "1", flow = "none";
    bool dtr = true, rts = true, brk = false;

    template <class T>
    bool take(T *field, const T &value, bool ok, const QString &call)
    {
        calls << call + (ok ? "" : "!");
        if (ok)
            *field = value;
        return ok;
    }
    int baudRate() const override { return baud; }
    bool setBaudRate(int r, QString *) override { return take(&baud, r, r <= 1000000, "baud " + QString::number(r)); }
    int dataBits() const override { return bits; }
    bool setDataBits(int b, QString *) override { return take(&bits, b, b > 6, "bits " + QString::number(b)); }
    QString parity() const override { return par; }
    bool setParity(const QString &p, QString *) override { return take(&par, p, !p.contains('a'), "parity " + p); }
    QString stopBits() const override { return stop; }
    bool setStopBits(const QString &s, QString *) override { return take(&stop, s, s != "1.5", "stop " + s); }
    QString flowControl() const override { return flow; }
    bool setFlowControl(const QString &f, QString *) override { return take(&flow, f, true, "flow " + f); }
    bool isDataTerminalReady() const override { return dtr; }
    bool setDataTerminalReady(bool s, QString *) override { return take(&dtr, s, true, "dtr " + QString::number(s)); }
    bool isRequestToSend() const override { return rts; }
    bool setRequestToSend(bool s, QString *) override { return take(&rts, s, true, "rts " + QString::number(s)); }
    bool isBreakEnabled() const override { return brk; }
    bool setBreakEnabled(bool s, QString *) override { return take(&brk, s, !s, "break " + QString::number(s)); }
    bool sendBreak(int, QString *) override { return take(&brk, false, false, "sendBreak"); }
    bool purge(bool r, bool u, QString *) override { return take(&r, r, true, QString("purge %1 %2").arg(r).arg(u)); }
    int modemLines() const override { return modem; }
    qint64 lockHolder() const override { return 0; }
};

} // namespace

void tst_Rfc2217::session_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("toA");
    QTest::addColumn<QByteArray>("toB");
    QTest::addColumn<QString>("calls");
    const auto row = [](const char *name, const QString &script, const QByteArray &line, const char *toA,
                        const char *toB = "", const char *calls = "") {
        QTest::newRow(name) << script << line << QByteArray(toA) << QByteArray(toB) << QString(calls);
    };
    // Answers to what changes, none to what answers an offer or repeats the
    // state; unknown options refused.
    row("negotiation", "join a | a fffd00 fffb00 fffd18 fffb18 fffb03 fffb03 fffc03 fffd2c fffe2c", "",
        "fffb00 fffd00 fffb03 fffb2c fffd2c  fffc18 fffe18 fffd03 fffe03 fffa2c6b00fff0 fffc2c");
    row("refused settings answered with the value in force",
        "a fffa2c01 001e8480 fff0 | a fffa2c02 05 fff0 | a fffa2c03 04 fff0 | a fffa2c04 03 fff0 | a fffa2c05 05 fff0",
        "", "fffa2c6b00fff0 fffa2c65 00002580 fff0  fffa2c66 08 fff0  fffa2c67 01 fff0  fffa2c68 01 fff0  fffa2c69 06 fff0", "",
        "baud 2000000!, bits 5!, parity mark!, stop 1.5!, break 1!");
    row("settings taken, then asked (0)",
        "a fffa2c01 0000ffffffff fff0 | a fffa2c02 07 fff0 | a fffa2c03 03 fff0 | a fffa2c04 02 fff0"
        " | a fffa2c01 00000000 fff0 | a fffa2c02 00 fff0 | a fffa2c03 00 fff0",
        "", "fffa2c6b00fff0 fffa2c65 0000ffffffff fff0  fffa2c66 07 fff0  fffa2c67 03 fff0  fffa2c68 02 fff0"
            "   fffa2c65 0000ffffffff fff0  fffa2c66 07 fff0  fffa2c67 03 fff0",
        "", "baud 65535, bits 7, parity even, stop 2");
    row("control", "a fffa2c0500fff0 fffa2c0503fff0 fffa2c050ffff0 fffa2c0509fff0 fffa2c0507fff0 fffa2c050bfff0"
                   " | a fffa2c0506fff0",
        "", "fffa2c6b00fff0 fffa2c69 01 fff0  fffa2c69 03 fff0  fffa2c69 0f fff0  fffa2c69 09 fff0  fffa2c69 09 fff0"
            "   fffa2c69 0b fff0  fffa2c69 06 fff0",
        "", "flow rtscts, flow xonxoff, dtr 0, rts 1, break 0");
    row("purge, signature, unknown codes",
        "a fffa2c0c 03 fff0 fffa2c0c 01 fff0 fffa2c0c 04 fff0 | a fffa2c00 fff0 fffa2c00 41 fff0 fffa2c63 fff0", "",
        "fffa2c6b00fff0 fffa2c70 03 fff0  fffa2c70 01 fff0  fffa2c64 70636f6d fff0", "", "purge 1 1, purge 1 0");
    // Client 1 watches the transmitter and DSR, client 2 keeps the default
    // masks (no line state, every modem line).
    row("masks and notices, each client its own",
        "a fffd2c | b fffd2c | poll 00 e | a fffa2c0a 60 fff0 | poll 00 b | poll 80 b | a fffa2c0b 22 fff0"
        " | poll 00 b | poll 10 e | a fffa2c07 fff0 fffa2c06 fff0",
        "", "fffa2c6b00fff0 fffa2c6e60fff0 fffa2c6a00fff0 fffa2c6b11fff0 fffa2c6f22fff0 fffa2c6b00fff0"
            " fffa2c6a60fff0 fffa2c6b22fff0 fffa2c6b20fff0 fffa2c6a60fff0",
        "fffa2c6b00fff0 fffa2c6b11fff0 fffa2c6b01fff0 fffa2c6b22fff0");
    // Told unasked: the state on agreeing, on a new mask, then a masked line's
    // change with its delta bits; a line with none to read has none up.
    row("modem state told", "poll -1 e | a fffb2c | a fffa2c0b 33 fff0 | poll 80 b | poll 88 b | poll 10 b", "",
        "fffa2c6b00fff0 fffa2c6f33fff0 fffa2c6b00fff0 fffa2c6b11fff0 fffa2c6b23fff0");
    row("a suspension holds the line until the last one resumes or leaves",
        "hold | a fffa2c08fff0 | hold | b fffa2c08fff0 | a fffa2c09fff0 | hold | leave b | hold", "", "fffa2c6b00fff0", "fffa2c6b00fff0",
        "hold 0, hold 1, hold 1, hold 0");
    row("0xFF both ways, IAC split across pieces",
        "a 31ff | a ff32ff | a fa | a 2c0c | a 02ff | a f033 | line 00ff01ffff", "31ff3233",
        "fffa2c6b00fff0 fffa2c70 02 fff0  00ffff01ffffffff", "", "purge 0 1");
    row("client 1 in the middle of a command, client 2's bytes intact",
        "a 68 fffa2c01 0000 | b 41 ffff 42 fffa2c0200fff0 fffd18 | a 4b00 fff0 69", "6841ff4269",
        "fffa2c6b00fff0 fffa2c65 00004b00 fff0", "fffa2c6b00fff0 fffa2c6608fff0 fffc18", "baud 19200");
    row("cut, endless, stray",
        "a fffa2c01 0102 | a fffb03 7a fff0 71 fff1 | a fffa2c05" + QString(600, '1') + "fff021", "7a7121",
        "fffd03");
    QStringList bytewise;
    QByteArray all(256, 0);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    for (char c : Rfc2217Session::toClient(all.constData(), all.size()))
        bytewise << "a " + QByteArray(1, c).toHex();
    row("every byte value, one piece each", bytewise.join('|'), all.toHex(), "");
}

void tst_Rfc2217::session()
{
    QFETCH(QString, script);
    FakeLine fake;
    Rfc2217Clients clients(&fake);
    clients.join(1);
    clients.join(2);
    QByteArray line, to[3];
    for (QString step : script.split('|')) {
        step = step.trimmed();
        const QString verb = step.section(' ', 0, 0);
        const QByteArray hex = QByteArray::fromHex(step.section(' ', 1).toLatin1());
        const int client = verb == "a" || (verb.size() > 1 && step.endsWith('a')) ? 1 : 2;
        if (verb.size() == 1) {
            line += clients.takeFromClient(client, hex.constData(), hex.size(), &to[client]);
        } else if (verb == "join") {
            to[client] += clients.join(client);
        } else if (verb == "leave") {
            clients.leave(client);
        } else if (verb == "poll") {
            fake.modem = step.section(' ', 1, 1).toInt(nullptr, 16);
            for (const auto &notice : clients.notices(step.endsWith('e')))
                to[notice.first] += notice.second;
        } else if (verb == "line") {
            to[1] += Rfc2217Session::toClient(hex.constData(), hex.size());
        } else {
            fake.calls << QString("hold %1").arg(clients.isSuspended());
        }
    }
    QFETCH(QByteArray, toA);
    QFETCH(QByteArray, toB);
    QTEST(line.toHex(), "line");
    QCOMPARE(to[1].toHex(), QByteArray::fromHex(toA).toHex());
    QCOMPARE(to[2].toHex(), QByteArray::fromHex(toB).toHex());
    QTEST(fake.calls.join(", "), "calls");
}

QTEST_GUILESS_MAIN(tst_Rfc2217)
#include "tst_rfc2217.moc"
