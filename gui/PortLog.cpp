#include "gui/PortLog.h"

#include "hostlib/CanLineParser.h"

#include <QDateTime>
#include <QElapsedTimer>

namespace {
const int flushIntervalMs = 1000;
// Microseconds since the epoch, as candump stamps its records.
qint64 nowMicroseconds()
{
    static const qint64 startUs = QDateTime::currentMSecsSinceEpoch() * 1000;
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return startUs + clock.nsecsElapsed() / 1000;
}
}

PortLog::PortLog(QObject *parent)
    : QObject(parent)
{
    m_flush.setInterval(flushIntervalMs);
    m_flush.setSingleShot(true);
    connect(&m_flush, &QTimer::timeout, this, &PortLog::flush);
}

PortLog::~PortLog()
{
    close();
}

bool PortLog::open(const QString &fileName, QString *error)
{
    close();
    m_file.setFileName(fileName);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = tr("cannot write %1: %2").arg(fileName, m_file.errorString());
        return false;
    }
    return true;
}

void PortLog::close()
{
    m_flush.stop();
    if (m_file.isOpen())
        m_file.close();
}

void PortLog::writeBytes(const QByteArray &data)
{
    if (!m_file.isOpen())
        return;
    m_file.write(data);
    scheduleFlush();
}

void PortLog::writeFrame(const QCanBusFrame &frame)
{
    if (!m_file.isOpen())
        return;
    const QByteArray record = CanLineParser::formatLog(frame, m_interface, nowMicroseconds());
    if (!record.isEmpty())
        m_file.write(record + '\n');
    scheduleFlush();
}

void PortLog::scheduleFlush()
{
    if (!m_flush.isActive())
        m_flush.start();
}

void PortLog::flush()
{
    if (m_file.isOpen())
        m_file.flush();
}

QByteArray PortLog::interfaceOf(const QString &device)
{
    const QString last = device.section(QLatin1Char('/'), -1);
    return last.isEmpty() ? QByteArrayLiteral("can0") : last.toUtf8();
}
