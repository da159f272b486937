// libFuzzer target: the Telnet parser and the RFC 2217 server session on
// whatever a client may send, cut into pieces of a size the input chooses.
// Beyond not failing: escaped data parses back to itself, and what the
// session keeps stays bounded however long an option sequence runs.

#include "hostlib/Rfc2217Session.h"
#include "hostlib/TelnetParser.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QObject>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A line without the serial port's properties: every request is tried on
    // it, and refused ones are answered all the same. Qt's warnings about them
    // would only slow the run.
    [[maybe_unused]] static const bool quiet =
        (qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}), true);
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

    QObject line;
    Rfc2217Session session(&line);
    QByteArray replies = session.start();
    TelnetParser parser;
    for (int at = 0; at < length; at += piece) {
        const int n = qMin(piece, length - at);
        QByteArray forLine = session.takeFromClient(bytes + at, n, &replies);
        // Data never grows: every byte in is at most one byte out.
        check(forLine.size() <= n);
        parser.feed(bytes + at, n, &items);
        for (const TelnetParser::Item &item : qAsConst(items))
            check(item.bytes.size() <= qMax(n, TelnetParser::maxPayload));
        items.clear();
        // Each request is answered once, in a few bytes.
        check(replies.size() <= 64 + 16 * n);
        replies.clear();
        session.notices(at % 2 == 0);
    }
    return 0;
}
