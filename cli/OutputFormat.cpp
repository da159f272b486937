#include "cli/OutputFormat.h"

#include "hostlib/HexCodec.h"

#include <QDateTime>

#include <chrono>

OutputFormat::OutputFormat()
{
    m_clock.start();
    m_now = [this]() { return m_clock.elapsed(); };
}

bool OutputFormat::parseStamp(const QString &text, Stamp *stamp)
{
    static const QList<QPair<QString, Stamp>> names{{QStringLiteral("absolute"), Stamp::Absolute},
                                                    {QStringLiteral("delta"), Stamp::Delta},
                                                    {QStringLiteral("relative"), Stamp::Relative},
                                                    {QStringLiteral("epoch"), Stamp::Epoch}};
    for (const auto &name : names) {
        if (name.first == text) {
            *stamp = name.second;
            return true;
        }
    }
    return false;
}

QByteArray OutputFormat::wallClock()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toLatin1();
}

qint64 OutputFormat::epochMicroseconds()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

void OutputFormat::setFrameForm(FrameForm form, const QByteArray &interfaceName)
{
    m_frameForm = form;
    m_interface = interfaceName;
}

QByteArray OutputFormat::stampText(Stamp stamp)
{
    const qint64 now = m_now();
    const qint64 since = stamp == Stamp::Delta ? now - m_lastStampMs : now;
    m_lastStampMs = now;
    if (stamp == Stamp::Absolute)
        return wallClock();
    if (stamp == Stamp::Epoch) {
        const qint64 us = epochMicroseconds();
        return QByteArray::number(us / 1000000) + '.' + QByteArray::number(us % 1000000).rightJustified(6, '0');
    }
    const QByteArray seconds = QByteArray::number(double(since) / 1000, 'f', 3);
    return stamp == Stamp::Delta ? '+' + seconds : seconds;
}

QByteArray OutputFormat::bytes(const QByteArray &data)
{
    QByteArray text = m_map.received(data);
    if (m_hex) {
        const qint64 size = text.size();
        text = HexCodec::dump(text, m_dumpOffset);
        m_dumpOffset += size;
    }
    if (m_stamp == Stamp::None)
        return text;
    QByteArray out;
    out.reserve(text.size() + 32);
    for (char c : qAsConst(text)) {
        if (m_atLineStart)
            out += '[' + stampText(m_stamp) + "] ";
        m_atLineStart = c == '\n';
        out += c;
    }
    return out;
}

QByteArray OutputFormat::frame(const QCanBusFrame &frame)
{
    if (!CanLineParser::passes(m_filters, frame))
        return QByteArray();
    if (m_frameForm == FrameForm::Candump) {
        const Stamp stamp = m_stamp == Stamp::None ? Stamp::Epoch : m_stamp;
        return '(' + stampText(stamp) + ") " + CanLineParser::formatCandump(frame, m_interface) + '\n';
    }
    const QByteArray line = CanLineParser::format(frame) + '\n';
    return m_stamp == Stamp::None ? line : '[' + stampText(m_stamp) + "] " + line;
}
