// libFuzzer target: the Telnet parser and the RFC 2217 server sessions on
// whatever clients may send, cut into pieces of a size the input chooses,
// from one client or two taking turns. Beyond not failing: escaped data
// parses back to itself, and what the sessions keep stays bounded however
// long an option sequence runs.

#include "core/PCom_SerialLine.h"
#include "hostlib/Rfc2217Clients.h"
#include "hostlib/TelnetParser.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstdint>

namespace {
// A line that refuses every change and reads back as it was.
class FixedLine : public PCom_SerialLine
{
public:
    int baudRate() const override { return 9600; }
    bool setBaudRate(int, QString *) override { return false; }
    int dataBits() const override { return 8; }
    bool setDataBits(int, QString *) override { return false; }
    QString parity() const override { return QStringLiteral("none"); }
    bool setParity(const QString &, QString *) override { return false; }
    QString stopBits() const override { return QStringLiteral("1"); }
    bool setStopBits(const QString &, QString *) override { return false; }
    QString flowControl() const override { return QStringLiteral("none"); }
    bool setFlowControl(const QString &, QString *) override { return false; }
    bool isDataTerminalReady() const override { return true; }
    bool setDataTerminalReady(bool, QString *) override { return false; }
    bool isRequestToSend() const override { return true; }
    bool setRequestToSend(bool, QString *) override { return false; }
    bool isBreakEnabled() const override { return false; }
    bool setBreakEnabled(bool, QString *) override { return false; }
    bool sendBreak(int, QString *) override { return false; }
    bool purge(bool, bool, QString *) override { return false; }
    int modemLines() const override { return m_lines; }
    qint64 lockHolder() const override { return 0; }
    int m_lines = -1;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int piece = 1 + data[0] % 64;
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const int length = int(size - 1);
    QList<TelnetParser::Item> items;
    const QByteArray escaped = TelnetParser::escape(bytes, length);
    TelnetParser().feed(escaped.constData(), escaped.size(), &items);
    check(length == 0 ? items.isEmpty() : items.size() == 1 && items[0].bytes == QByteArray(bytes, length));
    items.clear();

    FixedLine line;
    Rfc2217Clients clients(&line);
    QByteArray replies = clients.join(1) + clients.join(2);
    const bool twoClients = data[0] & 0x80;
    TelnetParser parser;
    for (int at = 0; at < length; at += piece) {
        const int n = qMin(piece, length - at);
        const int client = twoClients ? 1 + (at / piece) % 2 : 1;
        QByteArray forLine = clients.takeFromClient(client, bytes + at, n, &replies);
        // Data never grows: every byte in is at most one byte out.
        check(forLine.size() <= n);
        parser.feed(bytes + at, n, &items);
        for (const TelnetParser::Item &item : qAsConst(items))
            check(item.bytes.size() <= qMax(n, TelnetParser::maxPayload));
        items.clear();
        // Each request is answered once, in a few bytes.
        check(replies.size() <= 64 + 16 * n);
        replies.clear();
        line.m_lines = at % 3 == 0 ? -1 : bytes[at];
        clients.notices(at % 2 == 0);
    }
    return 0;
}
