#include "hostlib/PortLink.h"

#include "core/PCom_DatagramRefusals.h"
#include "core/PCom_LinkStatus.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PortReader.h"
#include "hostlib/PortWriter.h"

PortLink::PortLink(Plugin_Com_Port *port, const QString &label, QObject *parent)
    : Endpoint(parent),
      m_port(port),
      m_status(PluginHost::linkStatus(port)),
      m_label(label),
      m_source(QStringLiteral("the host")),
      m_frames(port->usesFrameIds()),
      m_reader(new PortReader(port, this)),
      m_writer(new PortWriter(port, m_status, this))
{
    if (m_status) {
        m_status->setReadBufferSize(readBufferSize);
        connect(m_status, &PCom_LinkStatus::linkLost, this, &PortLink::onLinkLost);
        connect(m_status, &PCom_LinkStatus::writeFinished, this, &PortLink::onWriteFinished);
        // A datagram that nothing took is not delivered: the run says so.
        if (auto *refusals = m_status->face<PCom_DatagramRefusals>()) {
            refusals->setWatching(true);
            connect(refusals, &PCom_DatagramRefusals::refused, this, &PortLink::onRefused);
        }
        if (m_status->maxWriteSize() > 0) {
            m_maxWrite = m_status->maxWriteSize();
            m_writer->setMaxWriteSize(m_maxWrite);
        }
    }
    connect(m_reader, &PortReader::received, this, &Endpoint::received);
    connect(m_reader, &PortReader::frameReceived, this, &Endpoint::frameReceived);
    connect(m_writer, &PortWriter::backlogLow, this, &Endpoint::backlogLow);
    connect(port, &AbstractTreeItem::dataChanged, this, &PortLink::onDataChanged);
    connect(m_writer, &PortWriter::progress, this, &PortLink::onProgress);
    connect(m_writer, &PortWriter::drained, this, &PortLink::onProgress);

    m_stall.setSingleShot(true);
    connect(&m_stall, &QTimer::timeout, this, &PortLink::onStall);
    m_closeDeadline.setSingleShot(true);
    connect(&m_closeDeadline, &QTimer::timeout, this, [this]() {
        // A close that waits on the peer (a connection still coming, bytes
        // still leaving) is cut short.
        if (m_status && !m_abortLink) {
            m_abortLink = true;
            m_status->abortLink();
            if (isClosed()) {
                markDown();
                return;
            }
        }
        LogReceiver::post(QStringLiteral("warning"),
                          QStringLiteral("the %1 link did not finish closing in time").arg(m_label));
        markDown();
    });
    m_connectDeadline.setSingleShot(true);
    connect(&m_connectDeadline, &QTimer::timeout, this, &PortLink::onConnectTimeout);
    m_suspendDeadline.setSingleShot(true);
    connect(&m_suspendDeadline, &QTimer::timeout, this, &PortLink::checkSuspend);
    // Only while the write direction waits for a connection to end it.
    m_openPoll.setInterval(50);
    connect(&m_openPoll, &QTimer::timeout, this, &PortLink::checkFinish);
}

PortLink::~PortLink() = default;

bool PortLink::isClosed() const
{
    if (m_status)
        return m_status->linkState() == PCom_LinkStatus::LinkState::Closed;
    return !m_port->opened();
}

void PortLink::start()
{
    m_started = true;
    // A link that begins away (a line opened on demand) has no port to read yet.
    QTimer::singleShot(0, this, [this]() {
        if (!m_interrupted)
            m_reader->drain();
    });
    if (m_connectTimeoutMs > 0 && m_status && m_status->linkState() == PCom_LinkStatus::LinkState::Opening)
        m_connectDeadline.start(m_connectTimeoutMs);
}

// A connection that never comes would leave the run waiting for as long as
// the system keeps trying (minutes for TCP): given up like a refused one.
void PortLink::onConnectTimeout()
{
    if (m_phase != Phase::Running || m_interrupted || m_status->linkState() != PCom_LinkStatus::LinkState::Opening)
        return;
    m_status->abortLink();
    onLinkLost(QStringLiteral("no connection within %1 s").arg(m_connectTimeoutMs / 1000.0));
}

// The first refusal is told at once; later ones at most once a second, with
// the count (a long-lived link, as the desktop's, meets them again after a
// peer went away), and the count at the end.
void PortLink::onRefused(const QString &destination, const QString &reason)
{
    ++m_refused;
    if (m_refused > 1 && m_refusalTold.isValid() && m_refusalTold.elapsed() < 1000)
        return;
    m_refusalTold.start();
    const QString what = m_refused == 1 ? QStringLiteral("a datagram")
                                        : QStringLiteral("%1 datagrams so far").arg(m_refused);
    LogReceiver::post(QStringLiteral("error"), QStringLiteral("the %1 link: %2 refused %3 (%4)")
                                                   .arg(m_label, destination, what, reason));
}

void PortLink::pauseReading()
{
    m_reader->pause();
}

void PortLink::resumeReading()
{
    m_reader->resume();
}

void PortLink::write(const char *data, int size)
{
    m_writer->write(data, size);
}

void PortLink::writeFrame(const QCanBusFrame &frame, qint64 line)
{
    m_writer->writeFrame(frame, line);
}

bool PortLink::isFull() const
{
    return m_writer->isFull();
}

void PortLink::setHoldLimit(qint64 bytes)
{
    m_writer->setHoldLimit(bytes);
}

qint64 PortLink::bytesDelivered() const
{
    return m_writer->bytesDelivered();
}

qint64 PortLink::bytesDropped() const
{
    return m_writer->bytesDropped();
}

qint64 PortLink::itemsDropped() const
{
    return m_writer->framesDropped();
}

void PortLink::finishWriting()
{
    if (m_finishing || m_phase != Phase::Running)
        return;
    m_finishing = true;
    m_stall.start(stallMs);
    checkFinish();
}

void PortLink::checkFinish()
{
    if (!m_finishing || m_writeDone || m_phase != Phase::Running || m_writer->isHolding())
        return;
    if (m_status && m_status->canCloseWrite() && !m_writeClosed) {
        m_writeClosed = true;
        if (m_status->closeWrite()) {
            m_openPoll.stop();
            return;
        }
        m_writeClosed = false;
        if (m_status->linkState() == PCom_LinkStatus::LinkState::Opening) {
            m_openPoll.start();
            return;
        }
    }
    if (!m_writeClosed && m_writer->isDrained()) {
        m_writeDone = true;
        m_stall.stop();
        emit writeDone();
    }
}

void PortLink::onWriteFinished()
{
    if (!m_writeClosed || m_writeDone)
        return;
    m_writeDone = true;
    m_stall.stop();
    emit writeDone();
}

// A close with a deadline cuts short one under way that would wait longer:
// a stop asked for while a run already ends must not wait on a peer.
void PortLink::close(int flushMs)
{
    const bool sooner = flushMs >= 0 && (!m_deadlineHard || m_hardDeadline.remainingTime() > flushMs);
    if (m_phase == Phase::Closing && sooner) {
        m_deadlineHard = true;
        m_hardDeadline.setRemainingTime(flushMs);
        m_closeDeadline.start(flushMs);
    }
    if (m_phase == Phase::Flushing && sooner) {
        m_deadlineHard = true;
        m_hardDeadline.setRemainingTime(flushMs);
        m_stall.start(flushMs);
    }
    if (m_phase != Phase::Running)
        return;
    m_phase = Phase::Flushing;
    m_openPoll.stop();
    m_deadlineHard = flushMs >= 0;
    if (m_deadlineHard)
        m_hardDeadline.setRemainingTime(flushMs);
    m_stall.start(m_deadlineHard ? flushMs : stallMs);
    checkFlush();
}

void PortLink::checkFlush()
{
    if (m_phase == Phase::Flushing && m_writer->isDrained())
        closePort();
}

void PortLink::onProgress()
{
    checkSuspend();
    const bool waiting = m_phase == Phase::Flushing || (m_finishing && !m_writeDone && m_phase == Phase::Running);
    if (!waiting)
        return;
    if (!m_deadlineHard)
        m_stall.start(stallMs);
    checkFinish();
    checkFlush();
}

void PortLink::onStall()
{
    // Bytes that only wait here for a server's first client are no stall:
    // like nc -l, the server waits for one (until a signal ends it).
    if (!m_deadlineHard && m_writer->portPending() == 0) {
        m_stall.start(stallMs);
        return;
    }
    giveUp(m_deadlineHard ? QStringLiteral("stopped before they left")
                          : QStringLiteral("no progress for %1 s").arg(stallMs / 1000));
}

void PortLink::giveUp(const QString &why)
{
    const qint64 left = m_writer->backlog();
    m_writer->discard();
    m_leftOver = left;
    if (left > 0)
        LogReceiver::post(QStringLiteral("error"),
                          QStringLiteral("%1 to the %2 link (%3)").arg(notWrittenText(left), m_label, why));
    // What the port still holds would keep an orderly close waiting on a
    // peer that does not read, or on a connection that does not come.
    m_abortLink = true;
    closePort();
}

void PortLink::abort()
{
    if (m_phase == Phase::Down)
        return;
    if (m_phase != Phase::Closing)
        giveUp(QStringLiteral("stopped at once"));
    markDown();
}

void PortLink::onLinkLost(const QString &reason)
{
    if (!m_started || m_phase >= Phase::Closing || m_interrupted)
        return;
    if (m_keepOnLoss && m_phase == Phase::Running && !m_finishing) {
        interrupt(reason);
        return;
    }
    // What the link still holds goes on before the link goes (a port that
    // has closed itself has nothing left to read).
    if (!isClosed())
        m_reader->takeRest();
    const qint64 left = m_writer->backlog();
    m_writer->discard();
    m_leftOver = left;
    // Bytes that the source still holds for the link will not reach it either.
    m_waitingAtEnd = m_sourceWaiting ? m_sourceWaiting() : 0;
    const bool peerClosed = m_status->linkLoss() == PCom_LinkStatus::LossKind::PeerClosed;
    const bool anyLeft = left > 0 || m_waitingAtEnd > 0;
    if (!peerClosed) {
        m_failed = true;
        LogReceiver::post(
            QStringLiteral("error"),
            QStringLiteral("the %1 link was lost: %2%3")
                .arg(m_label, reason, anyLeft ? QStringLiteral("; ") + notWrittenText(left) : QString()));
    } else if (anyLeft) {
        // Qt does not tell a reset from an orderly end; what was left tells.
        LogReceiver::post(QStringLiteral("error"), QStringLiteral("the %1 link was closed by the peer (%2); %3")
                                                       .arg(m_label, reason, notWrittenText(left)));
    } else {
        LogReceiver::post(QStringLiteral("info"), QStringLiteral("the %1 link was closed by the peer").arg(m_label));
        LogReceiver::noteOrderlyEnd();
    }
    emit lost();
    // The port is still inside its own error handling: it is closed (where
    // it has not closed itself) from the event loop.
    beginClosing();
    QTimer::singleShot(0, this, &PortLink::closeNow);
}

void PortLink::interrupt(const QString &reason)
{
    if (!isClosed())
        m_reader->takeRest();
    m_interrupted = true;
    const qint64 before = m_writer->bytesDropped();
    m_writer->setAway(true);
    const qint64 dropped = m_writer->bytesDropped() - before;
    LogReceiver::post(QStringLiteral("error"),
                      QStringLiteral("the %1 link was lost: %2%3")
                          .arg(m_label, reason,
                               dropped > 0 ? QStringLiteral("; %1 bytes waiting for it were dropped").arg(dropped)
                                           : QString()));
    emit interrupted(reason);
}

void PortLink::suspend(int flushMs)
{
    if (m_phase != Phase::Running || m_interrupted || m_suspending)
        return;
    if (m_port->opened())
        m_reader->takeRest();
    m_suspending = true;
    m_suspendDeadline.start(flushMs);
    checkSuspend();
}

void PortLink::checkSuspend()
{
    if (!m_suspending || (m_suspendDeadline.isActive() && !m_writer->isDrained() && m_port->opened()))
        return;
    m_suspending = false;
    m_suspendDeadline.stop();
    // Set first: the port's close is no loss of the link.
    m_interrupted = true;
    m_writer->setAway(true);
    if (m_port->opened())
        m_port->close();
}

void PortLink::resumeAfterReopen()
{
    m_suspending = false;
    m_suspendDeadline.stop();
    if (!m_interrupted)
        return;
    m_interrupted = false;
    m_writer->setAway(false);
    m_reader->resume();
    emit resumed();
}

void PortLink::onDataChanged()
{
    if (m_phase == Phase::Closing && isClosed()) {
        markDown();
        return;
    }
    // A port without the extension only shows that it closed by itself.
    if (!m_status && m_started && m_phase == Phase::Running && !m_port->opened()) {
        m_reader->takeRest();
        LogReceiver::post(QStringLiteral("info"), QStringLiteral("the %1 link was closed").arg(m_label));
        emit lost();
        closePort();
        return;
    }
    checkFinish();
}

void PortLink::closePort()
{
    if (m_phase >= Phase::Closing)
        return;
    beginClosing();
    closeNow();
}

void PortLink::beginClosing()
{
    m_phase = Phase::Closing;
    m_stall.stop();
    m_openPoll.stop();
}

void PortLink::closeNow()
{
    if (m_phase != Phase::Closing)
        return;
    if (!isClosed() && m_abortLink && m_status)
        m_status->abortLink();
    else if (!isClosed())
        m_port->close();
    // Closing may have finished inside close().
    if (m_phase != Phase::Closing)
        return;
    if (isClosed())
        markDown();
    else
        m_closeDeadline.start(m_deadlineHard ? int(qMax<qint64>(0, m_hardDeadline.remainingTime())) : closeTimeoutMs);
}

void PortLink::markDown()
{
    if (m_phase == Phase::Down)
        return;
    m_phase = Phase::Down;
    if (m_refused > 1)
        LogReceiver::post(QStringLiteral("error"),
                          QStringLiteral("the %1 link: %2 datagrams were refused").arg(m_label).arg(m_refused));
    m_stall.stop();
    m_openPoll.stop();
    m_closeDeadline.stop();
    m_reader->pause();
    emit down();
}

QString PortLink::notWrittenText(qint64 left) const
{
    QString text = QStringLiteral("%1 of %2 bytes from %3 were not written out")
                       .arg(left)
                       .arg(m_writer->bytesTaken())
                       .arg(m_source);
    if (m_waitingAtEnd > 0)
        text += QStringLiteral(", %1 more were waiting").arg(m_waitingAtEnd);
    return text;
}
