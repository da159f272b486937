#include "gui/Coalescer.h"

Coalescer::Coalescer(std::function<void()> update, int intervalMs, QObject *parent)
    : QObject(parent), m_update(std::move(update)), m_interval(intervalMs)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Coalescer::run);
}

void Coalescer::request()
{
    if (m_timer.isActive())
        return;
    const qint64 since = m_sinceRun.isValid() ? m_sinceRun.elapsed() : m_interval;
    m_timer.start(int(qMax<qint64>(0, m_interval - since)));
}

void Coalescer::run()
{
    m_sinceRun.start();
    m_update();
}
