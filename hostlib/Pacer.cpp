#include "hostlib/Pacer.h"

Pacer::Pacer(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Pacer::next);
}

void Pacer::setDelays(int charMs, int lineMs)
{
    m_charMs = qMax(0, charMs);
    m_lineMs = qMax(0, lineMs);
}

void Pacer::add(const QByteArray &data)
{
    m_waiting += data;
    if (!m_timer.isActive())
        m_timer.start(0);
}

void Pacer::clear()
{
    m_waiting.clear();
    m_timer.stop();
}

void Pacer::next()
{
    if (m_waiting.isEmpty()) {
        emit drained();
        return;
    }
    int size = 1;
    if (m_charMs <= 0) {
        // Up to the first line end, CR LF as one.
        size = m_waiting.size();
        for (int i = 0; i < m_waiting.size(); ++i) {
            const char c = m_waiting.at(i);
            if (c == '\n' || (c == '\r' && m_waiting.mid(i + 1, 1) != "\n")) {
                size = i + 1;
                break;
            }
        }
    }
    const QByteArray out = m_waiting.left(size);
    m_waiting.remove(0, size);
    const char last = out.at(out.size() - 1);
    const bool lineEnd = last == '\n' || (last == '\r' && !m_waiting.startsWith('\n'));
    m_timer.start(m_charMs + (lineEnd ? m_lineMs : 0));
    emit piece(out);
}
