#include "hostlib/FrameLine.h"

FrameLine::FrameLine(const QString &label, Endpoint *line, std::unique_ptr<FrameSession> session, QObject *parent)
    : Endpoint(parent), m_label(label), m_line(line), m_session(std::move(session))
{
    m_line->setParent(this);
    connect(m_line, &Endpoint::received, this, &FrameLine::onReceived);
    connect(m_line, &Endpoint::backlogLow, this, &Endpoint::backlogLow);
    connect(m_line, &Endpoint::inputEnded, this, &Endpoint::inputEnded);
    connect(m_line, &Endpoint::writeDone, this, &Endpoint::writeDone);
    connect(m_line, &Endpoint::lost, this, &Endpoint::lost);
    connect(m_line, &Endpoint::down, this, &Endpoint::down);
    connect(&m_timer, &QTimer::timeout, this, [this]() { send(m_session->onTimer(m_counters)); });
}

FrameLine::~FrameLine()
{
    m_line->disconnect(this);
}

void FrameLine::start()
{
    m_line->start();
    send(m_session->greeting());
}

void FrameLine::onReceived(const char *data, int size)
{
    QList<QCanBusFrame> frames;
    send(m_session->take(data, size, &frames));
    const int interval = m_session->timerMs();
    if (interval <= 0)
        m_timer.stop();
    else if (!m_timer.isActive() || m_timer.interval() != interval)
        m_timer.start(interval);
    FrameSession::handOn(this, frames, &m_counters);
}

void FrameLine::send(const QByteArray &bytes)
{
    if (!bytes.isEmpty() && !m_line->isClosing())
        m_line->write(bytes.constData(), bytes.size());
}

void FrameLine::writeFrame(const QCanBusFrame &frame, qint64 line)
{
    Q_UNUSED(line)
    m_counters.countBus(frame);
    send(m_session->give(frame));
}
