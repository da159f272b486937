#include "hostlib/SlcanSession.h"

#include <QDateTime>

namespace {

// The status flags of F, as Lawicel's adapters report them.
enum StatusFlag : quint8 {
    ErrorWarning = 0x04,
    DataOverrun = 0x08,
    ErrorPassive = 0x20,
    ArbitrationLost = 0x40,
    BusError = 0x80,
};

// The controller state bits of an error frame's second data byte.
quint8 statusOf(const QCanBusFrame &frame)
{
    const QCanBusFrame::FrameErrors errors = frame.error();
    const quint8 controller = frame.payload().size() > 1 ? quint8(frame.payload()[1]) : 0;
    quint8 status = 0;
    if (errors & QCanBusFrame::LostArbitrationError)
        status |= ArbitrationLost;
    if (errors & (QCanBusFrame::BusError | QCanBusFrame::BusOffError | QCanBusFrame::TransceiverError
                  | QCanBusFrame::MissingAcknowledgmentError | QCanBusFrame::ProtocolViolationError))
        status |= BusError;
    if (errors & QCanBusFrame::ControllerError) {
        if (controller & 0x03)
            status |= DataOverrun;
        if (controller & 0x0C)
            status |= ErrorWarning;
        if (controller & 0x30)
            status |= ErrorPassive;
    }
    return status;
}

} // namespace

QByteArray SlcanSession::take(const char *data, int size, QList<QCanBusFrame> *frames)
{
    QList<SlcanParser::Command> commands;
    m_parser.feed(data, size, &commands);
    QByteArray replies;
    for (const SlcanParser::Command &command : commands)
        replies += answer(command, frames);
    return replies;
}

QByteArray SlcanSession::answer(const SlcanParser::Command &command, QList<QCanBusFrame> *frames)
{
    using Kind = SlcanParser::Kind;
    const QByteArray ok(1, '\r');
    const QByteArray refused(1, refusal);
    switch (command.kind) {
    case Kind::Open:
    case Kind::ListenOnly:
        if (m_open)
            return refused;
        m_open = true;
        m_listenOnly = command.kind == Kind::ListenOnly;
        return ok;
    case Kind::Close:
        // Closing a closed channel changes nothing: tools close first to
        // start from a known state.
        m_open = false;
        return ok;
    case Kind::Bitrate:
    case Kind::Timestamps:
        if (m_open)
            return refused;
        if (command.kind == Kind::Timestamps)
            m_timestamps = command.number == 1;
        return ok;
    case Kind::Frame:
        if (!m_open || m_listenOnly)
            return refused;
        frames->append(command.frame);
        return command.frame.hasExtendedFrameFormat() ? QByteArrayLiteral("Z\r") : QByteArrayLiteral("z\r");
    case Kind::Status: {
        if (!m_open)
            return refused;
        const quint8 status = m_status;
        m_status = 0;
        return 'F' + QByteArray::number(status, 16).toUpper().rightJustified(2, '0') + '\r';
    }
    case Kind::Version:
        return QByteArrayLiteral("V1013\r");
    case Kind::Serial:
        return QByteArrayLiteral("NPCOM\r");
    case Kind::Invalid:
        break;
    }
    return refused;
}

QByteArray SlcanSession::give(const QCanBusFrame &frame)
{
    if (frame.frameType() == QCanBusFrame::ErrorFrame)
        m_status |= statusOf(frame);
    if (!m_open)
        return QByteArray();
    if (!m_timestamps)
        return SlcanParser::format(frame);
    const QCanBusFrame::TimeStamp stamp = frame.timeStamp();
    const qint64 ms = stamp.seconds() == 0 && stamp.microSeconds() == 0
                          ? QDateTime::currentMSecsSinceEpoch()
                          : stamp.seconds() * 1000 + stamp.microSeconds() / 1000;
    return SlcanParser::format(frame, int(ms % 60000));
}
