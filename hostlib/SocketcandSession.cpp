#include "hostlib/SocketcandSession.h"

namespace {

QByteArray error(const QString &text)
{
    return "< error " + text.toLatin1() + " >";
}

} // namespace

QByteArray SocketcandSession::take(const char *data, int size, QList<QCanBusFrame> *frames)
{
    QList<SocketcandParser::Command> commands;
    m_parser.feed(data, size, &commands);
    QByteArray replies;
    for (const SocketcandParser::Command &command : commands) {
        if (!m_finished)
            replies += answer(command, frames);
    }
    return replies;
}

QByteArray SocketcandSession::answer(const SocketcandParser::Command &command, QList<QCanBusFrame> *frames)
{
    using Kind = SocketcandParser::Kind;
    static const QByteArray ok = QByteArrayLiteral("< ok >");
    const bool open = m_mode != Mode::NoBus;
    switch (command.kind) {
    case Kind::Open:
        if (open)
            return error(QStringLiteral("the bus is open already"));
        if (command.text != m_channel) {
            m_finished = true;
            return error(QStringLiteral("no bus %1 here").arg(command.text));
        }
        m_mode = Mode::Bcm;
        return ok;
    case Kind::RawMode:
    case Kind::BcmMode:
    case Kind::ControlMode:
        if (!open)
            return error(QStringLiteral("open the bus first"));
        m_mode = command.kind == Kind::RawMode ? Mode::Raw : command.kind == Kind::BcmMode ? Mode::Bcm : Mode::Control;
        return ok;
    case Kind::Echo:
        return QByteArrayLiteral("< echo >");
    case Kind::Send:
        if (m_mode != Mode::Bcm && m_mode != Mode::Raw)
            return error(QStringLiteral("send needs BCM or raw mode"));
        frames->append(command.frame);
        return QByteArray();
    case Kind::Statistics:
        if (m_mode != Mode::Control)
            return error(QStringLiteral("statistics needs control mode"));
        m_statisticsMs = int(command.number);
        return QByteArray();
    case Kind::Unknown:
        return error(QStringLiteral("%1 is not supported").arg(command.text));
    case Kind::Malformed:
        break;
    }
    return error(command.text);
}

QByteArray SocketcandSession::give(const QCanBusFrame &frame)
{
    // A space first: python-can's client drops the byte that follows the
    // last whole message it read, which would otherwise be the next '<'.
    return m_mode == Mode::Raw ? ' ' + SocketcandParser::format(frame) : QByteArray();
}

QByteArray SocketcandSession::onTimer(const Counters &counters)
{
    return QStringLiteral("< stat %1 %2 %3 %4 >")
        .arg(counters.busBytes)
        .arg(counters.busFrames)
        .arg(counters.clientBytes)
        .arg(counters.clientFrames)
        .toLatin1();
}
