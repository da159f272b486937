#include "hostlib/CanLineParser.h"

#include "hostlib/HexCodec.h"

#include <QByteArrayList>
#include <QPair>

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

bool hexNumber(const QByteArray &text, quint32 *value)
{
    if (text.isEmpty() || text.size() > 8)
        return false;
    quint32 v = 0;
    for (char c : text) {
        const int digit = HexCodec::digitValue(c);
        if (digit < 0)
            return false;
        v = v << 4 | quint32(digit);
    }
    *value = v;
    return true;
}

bool validFlexibleLength(int size)
{
    return size <= 8 || size == 12 || size == 16 || size == 20 || size == 24 || size == 32 || size == 48
           || size == 64;
}

QByteArray idText(const QCanBusFrame &frame)
{
    return QByteArray::number(frame.frameId(), 16).toUpper().rightJustified(frame.hasExtendedFrameFormat() ? 8 : 3,
                                                                            '0');
}

} // namespace

bool CanLineParser::parse(const QByteArray &rawLine, QCanBusFrame *frame, QString *error)
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
    if (!hexNumber(idText, &id))
        return fail(error, QStringLiteral("identifier '%1' is not hexadecimal").arg(shown(idText)));
    const bool extended = idText.size() == 8;
    if (!extended && id > 0x7FF)
        return fail(error, QStringLiteral("base frame identifier %1 is above 7FF").arg(shown(idText)));
    if (extended && id > 0x1FFFFFFF)
        return fail(error, QStringLiteral("extended frame identifier %1 is above 1FFFFFFF").arg(shown(idText)));

    int pos = hash + 1;
    int flags = -1;
    if (pos < line.size() && line.at(pos) == '#') {
        ++pos;
        flags = pos < line.size() ? HexCodec::digitValue(line.at(pos)) : -1;
        if (flags < 0)
            return fail(error, QStringLiteral("'##' must be followed by one hex digit of flags"));
        ++pos;
    } else if (pos < line.size() && (line.at(pos) == 'R' || line.at(pos) == 'r')) {
        const QByteArray length = line.mid(pos + 1);
        if (length.size() > 1 || (length.size() == 1 && (length.at(0) < '0' || length.at(0) > '8')))
            return fail(error, QStringLiteral("a remote request takes a length from 0 to 8 after the R (123#R4)"));
        if (frame) {
            *frame = QCanBusFrame(id, QByteArray(length.isEmpty() ? 0 : length.at(0) - '0', '\0'));
            frame->setExtendedFrameFormat(extended);
            frame->setFrameType(QCanBusFrame::RemoteRequestFrame);
        }
        return true;
    }

    QByteArray payload;
    const int limit = flags >= 0 ? maxFlexiblePayload : maxClassicPayload;
    while (pos < line.size()) {
        if (line.at(pos) == '.') {
            ++pos;
            continue;
        }
        const int hi = HexCodec::digitValue(line.at(pos));
        const int lo = pos + 1 < line.size() ? HexCodec::digitValue(line.at(pos + 1)) : 0;
        if (hi >= 0 && pos + 1 >= line.size())
            return fail(error, QStringLiteral("data ends with a lone hex digit at column %1 (a byte takes two: 0%2)")
                                   .arg(pos + 1)
                                   .arg(QChar::fromLatin1(line.at(pos))));
        if (hi < 0 || lo < 0) {
            const int bad = hi < 0 ? pos : pos + 1;
            return fail(error, QStringLiteral("'%1' at column %2 is not a hex digit")
                                   .arg(shown(line.mid(bad, 1)))
                                   .arg(bad + 1));
        }
        if (payload.size() == limit) {
            return fail(error, flags >= 0 ? QStringLiteral("more than 64 data bytes")
                                          : QStringLiteral("more than 8 data bytes (use ID##0DATA for up to 64)"));
        }
        payload.append(char(hi << 4 | lo));
        pos += 2;
    }
    if (flags >= 0 && !validFlexibleLength(payload.size())) {
        return fail(error, QStringLiteral("%1 data bytes: a flexible-data-rate frame carries 0 to 8, 12, 16, 20, 24, "
                                          "32, 48 or 64")
                               .arg(payload.size()));
    }

    if (frame) {
        *frame = QCanBusFrame(id, payload);
        frame->setExtendedFrameFormat(extended);
        frame->setFlexibleDataRateFormat(flags >= 0);
        if (flags >= 0) {
            frame->setBitrateSwitch(flags & 1);
            frame->setErrorStateIndicator(flags & 2);
        }
    }
    return true;
}

QByteArray CanLineParser::format(const QCanBusFrame &frame)
{
    const QByteArray payload = frame.payload();
    switch (frame.frameType()) {
    case QCanBusFrame::ErrorFrame:
        return "ERRORFRAME " + errorWords(frame);
    case QCanBusFrame::RemoteRequestFrame:
        return idText(frame) + "#R" + (payload.isEmpty() ? QByteArray() : QByteArray::number(payload.size()));
    default:
        break;
    }
    if (frame.hasFlexibleDataRateFormat()) {
        const int flags = (frame.hasBitrateSwitch() ? 1 : 0) | (frame.hasErrorStateIndicator() ? 2 : 0);
        return idText(frame) + "##" + QByteArray::number(flags, 16).toUpper() + HexCodec::encode(payload);
    }
    return idText(frame) + '#' + HexCodec::encode(payload);
}

QByteArray CanLineParser::formatLog(const QCanBusFrame &frame, const QByteArray &interfaceName, qint64 microseconds)
{
    if (frame.frameType() == QCanBusFrame::ErrorFrame)
        return QByteArray();
    return '(' + QByteArray::number(microseconds / 1000000) + '.'
           + QByteArray::number(microseconds % 1000000).rightJustified(6, '0') + ") " + interfaceName + ' '
           + format(frame);
}

bool CanLineParser::parseLog(const QByteArray &line, QCanBusFrame *frame, qint64 *microseconds, QString *error)
{
    const QList<QByteArray> fields = line.simplified().split(' ');
    const QByteArray time = fields.constFirst();
    const int dot = time.indexOf('.');
    bool secondsOk = false;
    bool fractionOk = false;
    const qint64 seconds = time.mid(1, dot - 1).toLongLong(&secondsOk);
    const qint64 fraction = time.mid(dot + 1, 6).toLongLong(&fractionOk);
    if (fields.size() != 3 || !time.startsWith('(') || dot < 2 || dot > 12 || time.size() != dot + 8
        || !time.endsWith(')') || !secondsOk || !fractionOk || seconds < 0 || fraction < 0) {
        if (error)
            *error = QStringLiteral("not a candump log record (expected e.g. (1436509053.850870) can0 123#DEADBEEF)");
        return false;
    }
    if (!parse(fields.at(2), frame, error))
        return false;
    *microseconds = seconds * 1000000 + fraction;
    return true;
}

QByteArray CanLineParser::formatCandump(const QCanBusFrame &frame, const QByteArray &interfaceName)
{
    if (frame.frameType() == QCanBusFrame::ErrorFrame)
        return interfaceName + "  ERRORFRAME  " + errorWords(frame);
    const QByteArray payload = frame.payload();
    const bool flexible = frame.hasFlexibleDataRateFormat();
    QByteArray out = interfaceName + "  " + idText(frame) + (flexible ? "  [" : "   [")
                     + QByteArray::number(payload.size()).rightJustified(flexible ? 2 : 1, '0') + "]";
    if (frame.frameType() == QCanBusFrame::RemoteRequestFrame)
        return out + "  remote request";
    if (!payload.isEmpty())
        out += "  " + payload.toHex(' ').toUpper();
    return out;
}

QByteArray CanLineParser::errorWords(const QCanBusFrame &frame)
{
    static const QList<QPair<QCanBusFrame::FrameError, const char *>> words{
        {QCanBusFrame::TransmissionTimeoutError, "transmission timeout"},
        {QCanBusFrame::LostArbitrationError, "lost arbitration"},
        {QCanBusFrame::ControllerError, "controller problem"},
        {QCanBusFrame::ProtocolViolationError, "protocol violation"},
        {QCanBusFrame::TransceiverError, "transceiver problem"},
        {QCanBusFrame::MissingAcknowledgmentError, "no acknowledgement"},
        {QCanBusFrame::BusOffError, "bus off"},
        {QCanBusFrame::BusError, "bus error"},
        {QCanBusFrame::ControllerRestartError, "controller restarted"},
        {QCanBusFrame::UnknownError, "unknown error"},
    };
    QByteArrayList found;
    for (const auto &w : words) {
        if (frame.error() & w.first)
            found.append(w.second);
    }
    return found.isEmpty() ? QByteArray("no error named") : found.join(", ");
}

bool CanLineParser::parseFilter(const QString &text, Filter *filter, QString *error)
{
    QByteArray t = text.trimmed().toLatin1();
    Filter f;
    if (t.startsWith('~')) {
        f.inverted = true;
        t.remove(0, 1);
    }
    const int colon = t.indexOf(':');
    const int tilde = t.indexOf('~');
    const int split = colon >= 0 ? colon : tilde;
    if ((colon >= 0 && tilde >= 0) || split < 0 || (tilde >= 0 && f.inverted) || !hexNumber(t.left(split), &f.id)
        || !hexNumber(t.mid(split + 1), &f.mask)) {
        return fail(error, QStringLiteral("filter '%1' is not ID:MASK or ID~MASK in hex (e.g. 123:7FF)").arg(text));
    }
    f.inverted = f.inverted || tilde >= 0;
    f.extendedOnly = split == 8;
    *filter = f;
    return true;
}

bool CanLineParser::passes(const QList<Filter> &filters, const QCanBusFrame &frame)
{
    if (filters.isEmpty() || frame.frameType() == QCanBusFrame::ErrorFrame)
        return true;
    for (const Filter &f : filters) {
        const bool match = (frame.frameId() & f.mask) == (f.id & f.mask)
                           && (!f.extendedOnly || frame.hasExtendedFrameFormat());
        if (match != f.inverted)
            return true;
    }
    return false;
}
