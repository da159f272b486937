#include "hostlib/SocketcandParser.h"

#include <QDateTime>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool hexValue(const QByteArray &word, int maxDigits, quint32 *value)
{
    if (word.isEmpty() || word.size() > maxDigits)
        return false;
    bool ok = false;
    *value = word.toUInt(&ok, 16);
    return ok && !word.startsWith('+') && !word.startsWith('-');
}

SocketcandParser::Command malformed(const QString &why)
{
    return {SocketcandParser::Kind::Malformed, why, QCanBusFrame(QCanBusFrame::InvalidFrame), 0};
}

// < send ID LEN DATA... > and < sendrtr ID LEN >.
SocketcandParser::Command sendCommand(const QList<QByteArray> &words, bool remote)
{
    const QString name = QString::fromLatin1(words[0]);
    quint32 id = 0;
    quint32 length = 0;
    if (words.size() < 3 || !hexValue(words[1], 8, &id) || id > 0x1FFFFFFF)
        return malformed(QStringLiteral("%1 needs an identifier of up to 8 hex digits").arg(name));
    if (!hexValue(words[2], 1, &length) || length > 8)
        return malformed(QStringLiteral("%1 needs a length from 0 to 8").arg(name));
    const int dataWords = words.size() - 3;
    if (remote ? dataWords != 0 : dataWords != int(length))
        return malformed(QStringLiteral("%1 %2 has %3 data bytes").arg(name).arg(length).arg(dataWords));
    QByteArray payload;
    for (int i = 3; i < words.size(); ++i) {
        quint32 byte = 0;
        if (!hexValue(words[i], 2, &byte))
            return malformed(QStringLiteral("bad data byte '%1'").arg(QString::fromLatin1(words[i])));
        payload.append(char(byte));
    }
    QCanBusFrame frame(id, remote ? QByteArray() : payload);
    frame.setExtendedFrameFormat(words[1].size() == 8 || id > 0x7FF);
    if (remote) {
        frame.setFrameType(QCanBusFrame::RemoteRequestFrame);
        frame.setPayload(QByteArray(int(length), '\0'));
    }
    return {SocketcandParser::Kind::Send, QString(), frame, 0};
}

} // namespace

void SocketcandParser::feed(const char *data, int size, QList<Command> *commands)
{
    for (int i = 0; i < size; ++i) {
        const char c = data[i];
        if (!m_inside) {
            if (c == '<') {
                m_inside = true;
                m_stray = false;
                m_message.clear();
            } else if (!isBlank(c) && !m_stray) {
                m_stray = true;
                commands->append(malformed(QStringLiteral("text outside a message")));
            }
        } else if (c == '>') {
            m_inside = false;
            commands->append(m_overlong ? malformed(QStringLiteral("a message longer than %1 bytes").arg(maxMessage))
                                        : parse(m_message));
            m_overlong = false;
            m_message.clear();
        } else if (m_message.size() < maxMessage) {
            m_message.append(c);
        } else {
            m_overlong = true;
        }
    }
}

SocketcandParser::Command SocketcandParser::parse(const QByteArray &message)
{
    const QList<QByteArray> words = message.simplified().split(' ');
    const QByteArray &word = words[0];
    const auto plain = [&words](Kind kind) {
        if (words.size() != 1)
            return malformed(QStringLiteral("%1 takes no arguments").arg(QString::fromLatin1(words[0])));
        return Command{kind, QString(), QCanBusFrame(QCanBusFrame::InvalidFrame), 0};
    };
    if (word.isEmpty())
        return malformed(QStringLiteral("an empty message"));
    if (word == "open") {
        if (words.size() != 2)
            return malformed(QStringLiteral("open takes one bus name"));
        return {Kind::Open, QString::fromLatin1(words[1]), QCanBusFrame(QCanBusFrame::InvalidFrame), 0};
    }
    if (word == "rawmode")
        return plain(Kind::RawMode);
    if (word == "bcmmode")
        return plain(Kind::BcmMode);
    if (word == "controlmode")
        return plain(Kind::ControlMode);
    if (word == "echo")
        return plain(Kind::Echo);
    if (word == "send" || word == "sendrtr")
        return sendCommand(words, word == "sendrtr");
    if (word == "statistics") {
        bool ok = false;
        const qint64 ms = words.value(1).toLongLong(&ok);
        if (words.size() != 2 || !ok || ms < 0 || ms > 3600000)
            return malformed(QStringLiteral("statistics takes an interval from 0 to 3600000 ms"));
        return {Kind::Statistics, QString(), QCanBusFrame(QCanBusFrame::InvalidFrame), ms};
    }
    return {Kind::Unknown, QString::fromLatin1(word), QCanBusFrame(QCanBusFrame::InvalidFrame), 0};
}

QByteArray SocketcandParser::format(const QCanBusFrame &frame)
{
    QCanBusFrame::TimeStamp stamp = frame.timeStamp();
    if (stamp.seconds() == 0 && stamp.microSeconds() == 0)
        stamp = QCanBusFrame::TimeStamp::fromMicroSeconds(QDateTime::currentMSecsSinceEpoch() * 1000);
    const QByteArray time = QByteArray::number(stamp.seconds()) + '.'
                            + QByteArray::number(stamp.microSeconds()).rightJustified(6, '0');
    const bool error = frame.frameType() == QCanBusFrame::ErrorFrame;
    // An error frame's identifier is its error class.
    const QByteArray id = QByteArray::number(error ? uint(frame.error()) : frame.frameId(), 16)
                              .toUpper()
                              .rightJustified(frame.hasExtendedFrameFormat() ? 8 : 3, '0');
    if (frame.frameType() == QCanBusFrame::RemoteRequestFrame)
        return "< rtr " + id + ' ' + time + ' ' + QByteArray::number(frame.payload().size(), 16).toUpper() + " >";
    // The data in one field, and the field there even when it is empty:
    // socketcand's clients (python-can's among them) read three fields.
    const QByteArray data = frame.payload().toHex().toUpper();
    return (error ? "< error " : "< frame ") + id + ' ' + time + ' ' + data
           + " >";
}
