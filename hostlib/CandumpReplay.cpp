#include "hostlib/CandumpReplay.h"

#include "hostlib/CanLineParser.h"

#include <QFile>

CandumpReplay::CandumpReplay(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CandumpReplay::onTimer);
}

bool CandumpReplay::load(const QString &fileName, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString());
        return false;
    }
    qint64 number = 0;
    while (!file.atEnd()) {
        ++number;
        const QByteArray text = file.readLine(4096);
        if (text.trimmed().isEmpty() || text.trimmed().startsWith('#'))
            continue;
        Record record;
        record.line = number;
        QString why;
        if (!CanLineParser::parseLog(text, &record.frame, &record.microseconds, &why)) {
            *error = QStringLiteral("%1:%2: %3").arg(fileName).arg(number).arg(why);
            return false;
        }
        m_records.append(record);
    }
    return true;
}

void CandumpReplay::start()
{
    if (m_started)
        return;
    m_started = true;
    m_sinceLast.start();
    // The first frame (or the end) from the event loop, not from inside start().
    m_timer.start(0);
}

void CandumpReplay::pause()
{
    if (m_paused)
        return;
    m_paused = true;
    m_timer.stop();
    m_pauseStartMs = m_sinceLast.isValid() ? m_sinceLast.elapsed() : 0;
}

void CandumpReplay::resume()
{
    if (!m_paused)
        return;
    m_paused = false;
    if (m_sinceLast.isValid())
        m_pausedMs += m_sinceLast.elapsed() - m_pauseStartMs;
    schedule();
}

void CandumpReplay::schedule()
{
    if (!m_started || m_paused || m_done)
        return;
    if (m_next >= m_records.size()) {
        m_done = true;
        emit finished();
        return;
    }
    // A log out of order has gaps below zero: they are none.
    const qint64 gapUs = m_next == 0 ? 0 : m_records.at(m_next).microseconds - m_records.at(m_next - 1).microseconds;
    const qint64 waitedMs = m_sinceLast.elapsed() - m_pausedMs;
    m_timer.start(int(qBound<qint64>(0, (gapUs + 500) / 1000 - waitedMs, 24 * 3600 * 1000)));
}

void CandumpReplay::onTimer()
{
    if (m_next < m_records.size()) {
        const Record record = m_records.at(m_next++);
        m_sinceLast.restart();
        m_pausedMs = 0;
        emit frameDue(record.frame, record.line);
    }
    schedule();
}
