#include "hostlib/CanLineParser.h"

#include "hostlib/HexCodec.h"

namespace {

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

QByteArray trimmed(const QByteArray &line)
{
    int begin = 0;
    int end = line.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (begin < end && blank(line.at(begin)))
        ++begin;
    while (end > begin && blank(line.at(end - 1)))
        --end;
    return line.mid(begin, end - begin);
}

// Text for a message: printable characters as they are, others as \xNN,
// long texts cut.
QString shown(const QByteArray &text)
{
    QString out;
    const int limit = 16;
    for (int i = 0; i < text.size() && i < limit; ++i) {
        const uchar u = uchar(text.at(i));
        if (u >= 0x20 && u < 0x7f)
            out.append(QLatin1Char(char(u)));
        else
            out.append(QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0')));
    }
    if (text.size() > limit)
        out.append(QStringLiteral("..."));
    return out;
}

} // namespace

bool CanLineParser::parse(const QByteArray &rawLine, Frame *frame, QString *error)
{
    const QByteArray line = trimmed(rawLine);
    const int hash = line.indexOf('#');
    if (hash < 0)
        return fail(error, QStringLiteral("no '#' between identifier and data (expected ID#DATA, e.g. 123#DEADBEEF)"));

    const QByteArray idText = line.left(hash);
    if (idText.size() != 3 && idText.size() != 8) {
        return fail(error, QStringLiteral("identifier '%1' must have 3 hex digits (base frame) or 8 (extended frame)")
                               .arg(shown(idText)));
    }
    quint32 id = 0;
    for (char c : idText) {
        const int v = HexCodec::digitValue(c);
        if (v < 0)
            return fail(error, QStringLiteral("identifier '%1' is not hexadecimal").arg(shown(idText)));
        id = id << 4 | quint32(v);
    }
    const bool extended = idText.size() == 8;
    if (!extended && id > 0x7FF)
        return fail(error, QStringLiteral("base frame identifier %1 is above 7FF").arg(shown(idText)));
    if (extended && id > 0x1FFFFFFF)
        return fail(error, QStringLiteral("extended frame identifier %1 is above 1FFFFFFF").arg(shown(idText)));

    int pos = hash + 1;
    bool flexible = false;
    if (pos < line.size() && line.at(pos) == '#') {
        flexible = true;
        ++pos;
        if (pos >= line.size() || HexCodec::digitValue(line.at(pos)) < 0)
            return fail(error, QStringLiteral("'##' must be followed by one hex digit of flags"));
        ++pos;
    } else if (pos < line.size() && (line.at(pos) == 'R' || line.at(pos) == 'r')) {
        return fail(error, QStringLiteral("remote request frames cannot be sent"));
    }

    QByteArray payload;
    const int limit = flexible ? maxFlexiblePayload : maxClassicPayload;
    while (pos < line.size()) {
        if (line.at(pos) == '.') {
            ++pos;
            continue;
        }
        if (pos + 1 >= line.size())
            return fail(error, QStringLiteral("data ends with half a byte at column %1").arg(pos + 1));
        const int hi = HexCodec::digitValue(line.at(pos));
        const int lo = HexCodec::digitValue(line.at(pos + 1));
        if (hi < 0 || lo < 0) {
            const int bad = hi < 0 ? pos : pos + 1;
            return fail(error, QStringLiteral("'%1' at column %2 is not a hex digit")
                                   .arg(shown(line.mid(bad, 1)))
                                   .arg(bad + 1));
        }
        if (payload.size() == limit) {
            return fail(error, flexible ? QStringLiteral("more than 64 data bytes")
                                        : QStringLiteral("more than 8 data bytes (use ID##0DATA for up to 64)"));
        }
        payload.append(char(hi << 4 | lo));
        pos += 2;
    }

    if (frame) {
        frame->id = id;
        frame->extended = extended;
        frame->flexibleDataRate = flexible;
        frame->payload = payload;
    }
    return true;
}

QByteArray CanLineParser::format(quint32 id, const QByteArray &payload)
{
    QByteArray out = QByteArray::number(id, 16).toUpper().rightJustified(id > 0x7FF ? 8 : 3, '0');
    out.append(payload.size() > maxClassicPayload ? "##0" : "#");
    out.append(HexCodec::encode(payload));
    return out;
}
