#include "hostlib/HexCodec.h"

namespace {

const char upperDigits[] = "0123456789ABCDEF";
const char lowerDigits[] = "0123456789abcdef";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QString describe(char c)
{
    const uchar u = uchar(c);
    if (u >= 0x20 && u < 0x7f)
        return QStringLiteral("'%1'").arg(QLatin1Char(c));
    return QStringLiteral("byte 0x%1").arg(u, 2, 16, QLatin1Char('0'));
}

} // namespace

int HexCodec::digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QByteArray HexCodec::encode(const QByteArray &data)
{
    QByteArray out;
    out.reserve(data.size() * 2);
    for (char c : data) {
        const uchar u = uchar(c);
        out.append(upperDigits[u >> 4]);
        out.append(upperDigits[u & 0xf]);
    }
    return out;
}

bool HexCodec::decode(const QByteArray &text, QByteArray *out, QString *error)
{
    QByteArray bytes;
    bytes.reserve(text.size() / 2);
    const int size = text.size();
    int i = 0;
    while (i < size) {
        if (isBlank(text.at(i))) {
            ++i;
            continue;
        }
        // One group: optional 0x, then digit pairs up to the next blank.
        const int groupStart = i;
        if (i + 1 < size && text.at(i) == '0' && (text.at(i + 1) == 'x' || text.at(i + 1) == 'X'))
            i += 2;
        const int digitsStart = i;
        while (i < size && !isBlank(text.at(i))) {
            if (digitValue(text.at(i)) < 0) {
                if (error)
                    *error = QStringLiteral("%1 at column %2 is not a hex digit").arg(describe(text.at(i))).arg(i + 1);
                return false;
            }
            ++i;
        }
        const int digits = i - digitsStart;
        if (digits == 0) {
            if (error)
                *error = QStringLiteral("'0x' at column %1 has no hex digits").arg(groupStart + 1);
            return false;
        }
        if (digits % 2 != 0) {
            if (error) {
                *error = QStringLiteral("'%1' at column %2 has an odd number of hex digits")
                             .arg(QString::fromLatin1(text.mid(groupStart, i - groupStart)))
                             .arg(groupStart + 1);
            }
            return false;
        }
        for (int d = digitsStart; d < i; d += 2)
            bytes.append(char(digitValue(text.at(d)) << 4 | digitValue(text.at(d + 1))));
    }
    if (out)
        *out = bytes;
    return true;
}

QByteArray HexCodec::dump(const QByteArray &data, qint64 offset)
{
    QByteArray out;
    for (int line = 0; line < data.size(); line += 16) {
        const int count = qMin(16, data.size() - line);
        out.append(QByteArray::number(offset + line, 16).rightJustified(8, '0'));
        out.append("  ");
        for (int i = 0; i < 16; ++i) {
            if (i < count) {
                const uchar u = uchar(data.at(line + i));
                out.append(lowerDigits[u >> 4]);
                out.append(lowerDigits[u & 0xf]);
                out.append(' ');
            } else {
                out.append("   ");
            }
            if (i == 7)
                out.append(' ');
        }
        out.append(" |");
        for (int i = 0; i < count; ++i) {
            const char c = data.at(line + i);
            out.append(uchar(c) >= 0x20 && uchar(c) < 0x7f ? c : '.');
        }
        out.append("|\n");
    }
    return out;
}

bool HexCodec::unescape(const QString &text, QByteArray *out)
{
    const QByteArray in = text.toUtf8();
    for (int i = 0; i < in.size(); ++i) {
        if (in.at(i) != '\\') {
            out->append(in.at(i));
            continue;
        }
        const char next = i + 1 < in.size() ? in.at(++i) : '\0';
        const int at = QByteArray("rnt\\").indexOf(next);
        bool ok = at >= 0;
        if (ok)
            out->append("\r\n\t\\"[at]);
        else if (next == 'x' && i + 2 < in.size())
            out->append(char(in.mid(i + 1, 2).toInt(&ok, 16)));
        if (!ok)
            return false;
        i += next == 'x' ? 2 : 0;
    }
    return true;
}
