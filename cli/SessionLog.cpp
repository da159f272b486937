#include "cli/SessionLog.h"

#include "cli/OutputFormat.h"
#include "hostlib/CanLineParser.h"

bool SessionLog::open(const QString &fileName, QString *error)
{
    m_file.setFileName(fileName);
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return true;
    *error = QStringLiteral("cannot write the log %1: %2").arg(fileName, m_file.errorString());
    return false;
}

void SessionLog::sentFrame(const QCanBusFrame &frame)
{
    record('>', CanLineParser::format(frame));
}

void SessionLog::receivedFrame(const QCanBusFrame &frame)
{
    record('<', CanLineParser::format(frame));
}

QByteArray SessionLog::escaped(const QByteArray &data)
{
    QByteArray out;
    out.reserve(data.size());
    for (char c : data) {
        const uchar u = uchar(c);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else if (u < 0x20 || u >= 0x7f)
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

void SessionLog::record(char direction, const QByteArray &text)
{
    if (m_file.isOpen())
        m_file.write(OutputFormat::wallClock() + ' ' + direction + ' ' + text + '\n');
}
