#include "hostlib/Reconnector.h"

#include "core/PCom_LinkStatus.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PortLink.h"
#include "hostlib/PortWriter.h"

Reconnector::Reconnector(PortLink *link, std::function<bool()> reopen, double longestPauseSeconds, int tryMs,
                         QObject *parent)
    : QObject(parent),
      m_link(link),
      m_reopen(std::move(reopen)),
      m_longestPauseMs(qMax(firstPauseMs, int(longestPauseSeconds * 1000))),
      m_tryMs(tryMs)
{
    m_link->setKeepOnLoss(true);
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, &Reconnector::tryNow);
    m_tryDeadline.setSingleShot(true);
    connect(&m_tryDeadline, &QTimer::timeout, this, &Reconnector::failed);
    m_poll.setInterval(pollMs);
    connect(&m_poll, &QTimer::timeout, this, &Reconnector::check);
    connect(m_link, &PortLink::interrupted, this, &Reconnector::onInterrupted);
    connect(m_link->port(), &AbstractTreeItem::dataChanged, this, &Reconnector::check);
    // The first bytes of a link that is back may come before the poll sees
    // it open; an answer to them must not find the link still away.
    connect(m_link->port(), &Plugin_Com_Port::readyRead, this, &Reconnector::check);
    // The companion's own signal: a try that fails is no loss of the PortLink's.
    if (m_link->status())
        connect(m_link->status(), &PCom_LinkStatus::linkLost, this, &Reconnector::onTryLost);
}

void Reconnector::onInterrupted()
{
    m_tries = 0;
    m_pauseMs = firstPauseMs;
    m_droppedBefore = m_link->writer()->bytesDropped();
    LogReceiver::post(QStringLiteral("info"), QStringLiteral("pcom: trying to reopen the %1 link, at most every %2 s")
                                                  .arg(m_link->label())
                                                  .arg(m_longestPauseMs / 1000.0));
    // The port is still inside its own error handling.
    QTimer::singleShot(0, this, [this]() {
        if (m_link->isInterrupted() && !m_link->isClosing() && m_link->port()->opened())
            m_link->port()->close();
    });
    m_pause.start(m_pauseMs);
}

void Reconnector::scheduleNext()
{
    m_pauseMs = qMin(m_pauseMs * 2, m_longestPauseMs);
    m_pause.start(m_pauseMs);
}

void Reconnector::tryNow()
{
    if (!m_link->isInterrupted() || m_link->isClosing())
        return;
    ++m_tries;
    LogReceiver::post(QStringLiteral("progress"),
                      QStringLiteral("pcom: reopening the %1 link, try %2").arg(m_link->label()).arg(m_tries));
    if (m_link->port()->opened())
        m_link->port()->close();
    m_trying = true;
    if (!m_reopen()) {
        m_trying = false;
        if (m_link->port()->opened())
            m_link->port()->close();
        scheduleNext();
        return;
    }
    m_tryDeadline.start(m_tryMs);
    m_poll.start();
    check();
}

void Reconnector::check()
{
    if (!m_trying)
        return;
    if (m_link->isClosing()) {
        m_trying = false;
        m_poll.stop();
        m_tryDeadline.stop();
        return;
    }
    const PCom_LinkStatus *status = m_link->status();
    const bool open = status ? status->linkState() == PCom_LinkStatus::LinkState::Open : m_link->port()->opened();
    if (!open)
        return;
    m_trying = false;
    m_tryDeadline.stop();
    m_poll.stop();
    LogReceiver::post(QStringLiteral("info"),
                      QStringLiteral("pcom: the %1 link is back after %2 tries; %3 bytes for it were dropped "
                                     "while it was away")
                          .arg(m_link->label())
                          .arg(m_tries)
                          .arg(m_link->writer()->bytesDropped() - m_droppedBefore));
    m_link->resumeAfterReopen();
}

void Reconnector::onTryLost()
{
    if (m_trying)
        QTimer::singleShot(0, this, &Reconnector::failed);
}

void Reconnector::failed()
{
    if (!m_trying)
        return;
    m_trying = false;
    m_tryDeadline.stop();
    m_poll.stop();
    if (m_link->isClosing())
        return;
    if (m_link->port()->opened() || (m_link->status()
                                     && m_link->status()->linkState() != PCom_LinkStatus::LinkState::Closed))
        m_link->port()->close();
    scheduleNext();
}
