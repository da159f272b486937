#include "hostlib/MqttFrameCodec.h"

#include "hostlib/CanLineParser.h"

#include <QtEndian>

namespace {

const quint32 extendedBit = 0x80000000u;
const quint32 remoteBit = 0x40000000u;
const quint32 errorBit = 0x20000000u;
const quint32 idMask = 0x1FFFFFFFu;
const quint8 flexibleBit = 0x01;
const quint8 switchBit = 0x02;
const quint8 errorStateBit = 0x04;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool validFlexibleLength(int size)
{
    return size <= 8 || size == 12 || size == 16 || size == 20 || size == 24 || size == 32 || size == 48 || size == 64;
}

bool decodeBinary(const QByteArray &payload, QCanBusFrame *frame, QString *error)
{
    if (payload.size() < MqttFrameCodec::headSize)
        return fail(error, QStringLiteral("%1 bytes: a binary frame has a head of 5").arg(payload.size()));
    const quint32 word = qFromBigEndian<quint32>(payload.constData());
    const quint8 flags = quint8(payload.at(4));
    const quint32 id = word & idMask;
    const bool extended = word & extendedBit;
    const bool remote = word & remoteBit;
    const bool flexible = flags & flexibleBit;
    const QByteArray data = payload.mid(MqttFrameCodec::headSize);
    if (word & errorBit)
        return fail(error, QStringLiteral("an error frame cannot be sent"));
    if (!extended && id > 0x7FF)
        return fail(error, QStringLiteral("base frame identifier %1 is above 7FF").arg(id, 0, 16));
    if (flags & 0x08 || (!remote && flags & 0xF0) || (!flexible && flags & (switchBit | errorStateBit)))
        return fail(
            error, QStringLiteral("flags byte %1 has bits that mean nothing here").arg(flags, 2, 16, QLatin1Char('0')));
    if (remote && (flexible || !data.isEmpty() || (flags >> 4) > 8))
        return fail(error, QStringLiteral("a remote request carries no data and asks for 0 to 8 bytes"));
    if (!flexible && data.size() > CanLineParser::maxClassicPayload)
        return fail(error, QStringLiteral("%1 data bytes: a classic frame carries 0 to 8").arg(data.size()));
    if (flexible && (data.size() > CanLineParser::maxFlexiblePayload || !validFlexibleLength(data.size()))) {
        return fail(error,
                    QStringLiteral("%1 data bytes: a flexible-data-rate frame carries 0 to 8, 12, 16, 20, "
                                   "24, 32, 48 or 64")
                        .arg(data.size()));
    }
    if (!frame)
        return true;
    *frame = QCanBusFrame(id, remote ? QByteArray(flags >> 4, '\0') : data);
    frame->setExtendedFrameFormat(extended);
    if (remote) {
        frame->setFrameType(QCanBusFrame::RemoteRequestFrame);
    } else if (flexible) {
        frame->setFlexibleDataRateFormat(true);
        frame->setBitrateSwitch(flags & switchBit);
        frame->setErrorStateIndicator(flags & errorStateBit);
    }
    return true;
}

} // namespace

QByteArray MqttFrameCodec::encode(const QCanBusFrame &frame, Form form)
{
    if (form == Text)
        return CanLineParser::format(frame);
    quint32 word = frame.frameId() & idMask;
    quint8 flags = 0;
    QByteArray data = frame.payload();
    if (frame.frameType() == QCanBusFrame::ErrorFrame)
        word = errorBit | (quint32(frame.error()) & idMask);
    if (frame.hasExtendedFrameFormat())
        word |= extendedBit;
    if (frame.frameType() == QCanBusFrame::RemoteRequestFrame) {
        word |= remoteBit;
        flags = quint8(qMin(data.size(), 8) << 4);
        data.clear();
    } else if (frame.hasFlexibleDataRateFormat()) {
        flags = flexibleBit | (frame.hasBitrateSwitch() ? switchBit : 0)
            | (frame.hasErrorStateIndicator() ? errorStateBit : 0);
    }
    QByteArray out(headSize, '\0');
    qToBigEndian(word, out.data());
    out[4] = char(flags);
    return out + data;
}

bool MqttFrameCodec::decode(const QByteArray &payload, Form form, QCanBusFrame *frame, QString *error)
{
    if (form == Binary)
        return decodeBinary(payload, frame, error);
    // One frame per message: a line end may close it, another line may not follow.
    QByteArray line = payload;
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.contains('\n'))
        return fail(error, QStringLiteral("more than one line (one frame per message)"));
    return CanLineParser::parse(line, frame, error);
}

QByteArray MqttFrameCodec::topicId(const QCanBusFrame &frame)
{
    return QByteArray::number(frame.frameId(), 16)
        .toUpper()
        .rightJustified(frame.hasExtendedFrameFormat() ? 8 : 3, '0');
}
