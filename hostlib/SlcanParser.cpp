#include "hostlib/SlcanParser.h"

namespace {

SlcanParser::Command invalid(const QString &why)
{
    return {SlcanParser::Kind::Invalid, QCanBusFrame(QCanBusFrame::InvalidFrame), 0, why};
}

bool isHex(const QByteArray &text)
{
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// t, T, r and R lines.
SlcanParser::Command frameCommand(const QByteArray &line)
{
    const bool extended = line[0] == 'T' || line[0] == 'R';
    const bool remote = line[0] == 'r' || line[0] == 'R';
    const int idDigits = extended ? 8 : 3;
    const QByteArray id = line.mid(1, idDigits);
    if (id.size() != idDigits || !isHex(id))
        return invalid(QStringLiteral("%1 needs %2 hex digits of identifier").arg(QChar(line[0])).arg(idDigits));
    const quint32 value = id.toUInt(nullptr, 16);
    if (value > (extended ? 0x1FFFFFFFu : 0x7FFu))
        return invalid(QStringLiteral("identifier %1 out of range").arg(QString::fromLatin1(id)));
    const char length = line.size() > idDigits + 1 ? line[idDigits + 1] : 'x';
    if (length < '0' || length > '8')
        return invalid(QStringLiteral("a length from 0 to 8 is missing"));
    const int count = length - '0';
    const QByteArray data = line.mid(idDigits + 2);
    if (data.size() != (remote ? 0 : 2 * count) || !isHex(data))
        return invalid(QStringLiteral("%1 data bytes expected as hex digit pairs").arg(remote ? 0 : count));
    QCanBusFrame frame(value, remote ? QByteArray(count, '\0') : QByteArray::fromHex(data));
    frame.setExtendedFrameFormat(extended);
    if (remote)
        frame.setFrameType(QCanBusFrame::RemoteRequestFrame);
    return {SlcanParser::Kind::Frame, frame, 0, QString()};
}

} // namespace

void SlcanParser::feed(const char *data, int size, QList<Command> *commands)
{
    for (int i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\r') {
            if (m_overlong)
                commands->append(invalid(QStringLiteral("a line longer than %1 bytes").arg(maxLine)));
            else if (!m_line.isEmpty())
                commands->append(parse(m_line));
            m_line.clear();
            m_overlong = false;
        } else if (c == '\n') {
            continue;
        } else if (m_line.size() < maxLine) {
            m_line.append(c);
        } else {
            m_overlong = true;
        }
    }
}

SlcanParser::Command SlcanParser::parse(const QByteArray &line)
{
    const QCanBusFrame none(QCanBusFrame::InvalidFrame);
    const char command = line[0];
    if (command == 't' || command == 'T' || command == 'r' || command == 'R')
        return frameCommand(line);
    const QByteArray rest = line.mid(1);
    if ((command == 'S' || command == 'Z') && rest.size() == 1 && rest[0] >= '0'
        && rest[0] <= (command == 'S' ? '8' : '1'))
        return {command == 'S' ? Kind::Bitrate : Kind::Timestamps, none, rest[0] - '0', QString()};
    if (command == 'S' || command == 'Z')
        return invalid(QStringLiteral("%1 takes a digit from 0 to %2").arg(QChar(command)).arg(command == 'S' ? 8 : 1));
    static const QByteArray plain("OLCFVN");
    const int index = plain.indexOf(command);
    if (index < 0)
        return invalid(QStringLiteral("unknown command %1").arg(QChar(command)));
    if (!rest.isEmpty())
        return invalid(QStringLiteral("%1 takes nothing after it").arg(QChar(command)));
    static const Kind kinds[] = {Kind::Open, Kind::ListenOnly, Kind::Close, Kind::Status, Kind::Version, Kind::Serial};
    return {kinds[index], none, 0, QString()};
}

QByteArray SlcanParser::format(const QCanBusFrame &frame, int stampMs)
{
    const QCanBusFrame::FrameType type = frame.frameType();
    if ((type != QCanBusFrame::DataFrame && type != QCanBusFrame::RemoteRequestFrame)
        || frame.hasFlexibleDataRateFormat() || frame.payload().size() > 8)
        return QByteArray();
    const bool extended = frame.hasExtendedFrameFormat();
    const bool remote = type == QCanBusFrame::RemoteRequestFrame;
    QByteArray line(1, remote ? (extended ? 'R' : 'r') : (extended ? 'T' : 't'));
    line += QByteArray::number(frame.frameId(), 16).toUpper().rightJustified(extended ? 8 : 3, '0');
    line += char('0' + frame.payload().size());
    if (!remote)
        line += frame.payload().toHex().toUpper();
    if (stampMs >= 0)
        line += QByteArray::number(stampMs % 60000, 16).toUpper().rightJustified(4, '0');
    return line + '\r';
}
