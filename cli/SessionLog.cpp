#include "cli/SessionLog.h"

#include "cli/OutputFormat.h"
#include "hostlib/CanLineParser.h"

bool SessionLog::open(const QString &fileName, bool append, QString *error)
{
    m_file.setFileName(fileName);
    if (m_file.open(QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::Truncate) | QIODevice::Unbuffered))
        return true;
    *error = QStringLiteral("cannot write the log %1: %2").arg(fileName, m_file.errorString());
    return false;
}

void SessionLog::setForm(Form form, const QByteArray &interfaceName)
{
    m_form = form;
    m_interface = interfaceName;
}

void SessionLog::sentFrame(const QCanBusFrame &frame)
{
    recordFrame('>', frame);
}

void SessionLog::receivedFrame(const QCanBusFrame &frame)
{
    recordFrame('<', frame);
}

void SessionLog::recordFrame(char direction, const QCanBusFrame &frame)
{
    if (m_form == Form::Text) {
        record(direction, CanLineParser::format(frame));
        return;
    }
    // Both directions: what candump would see on the bus.
    const QByteArray line = CanLineParser::formatLog(frame, m_interface, OutputFormat::epochMicroseconds());
    if (m_file.isOpen() && !line.isEmpty())
        m_file.write(line + '\n');
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
