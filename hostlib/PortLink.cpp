#include "hostlib/PortLink.h"

#include "hostlib/LinkMonitor.h"
#include "hostlib/LogReceiver.h"
#include "hostlib/PortCloser.h"
#include "hostlib/PortReader.h"
#include "hostlib/PortWriter.h"
#include "host/Plugin_Com_Port.h"

PortLink::PortLink(Plugin_Com_Port *port, const QString &label, LogReceiver *log, QObject *parent)
    : QObject(parent),
      m_port(port),
      m_label(label),
      m_reader(new PortReader(port, this)),
      m_writer(new PortWriter(port, this)),
      m_monitor(new LinkMonitor(port, log, this)),
      m_closer(new PortCloser(port, m_writer, log, this))
{
    // A serial line sends ten bits per byte at its baud rate.
    const int baud = port->getTavlinProperty(QStringLiteral("baudrate")).toInt();
    if (!port->usesFrameIds() && baud > 0)
        m_writer->setLineRate(baud / 10.0);

    m_flushDeadline.setSingleShot(true);
    connect(&m_flushDeadline, &QTimer::timeout, this, &PortLink::startClose);
    connect(m_writer, &PortWriter::drained, this, &PortLink::onDrained);
    connect(m_closer, &PortCloser::finished, this, &PortLink::markDown);
    connect(m_monitor, &LinkMonitor::linkClosed, this, [this](bool byUs) {
        if (!byUs && m_shuttingDown)
            markDown();
    });
}

bool PortLink::usesFrames() const
{
    return m_port->usesFrameIds();
}

void PortLink::shutdown(int flushMs, int closeMs)
{
    if (m_shuttingDown)
        return;
    m_shuttingDown = true;
    m_closeMs = closeMs;
    if (m_monitor->isClosed()) {
        dropPending();
        markDown();
        return;
    }
    m_reader->drain();
    if (m_writer->isIdle()) {
        startClose();
        return;
    }
    m_flushDeadline.start(flushMs);
}

void PortLink::closeAtOnce()
{
    m_shuttingDown = true;
    m_flushDeadline.stop();
    m_writer->discard();
    m_monitor->setClosing();
    m_port->close();
    markDown();
}

void PortLink::dropPending()
{
    const qint64 lost = m_writer->discard();
    if (lost > 0) {
        LogReceiver::post(QStringLiteral("warning"),
                          QStringLiteral("%1 byte(s) could not be handed to the %2 port").arg(lost).arg(m_label));
    }
}

void PortLink::onDrained()
{
    if (m_shuttingDown && m_flushDeadline.isActive()) {
        m_flushDeadline.stop();
        startClose();
    }
}

void PortLink::startClose()
{
    if (m_closeStarted || m_down)
        return;
    m_closeStarted = true;
    dropPending();
    if (m_monitor->isClosed()) {
        markDown();
        return;
    }
    m_monitor->setClosing();
    m_closer->close(m_closeMs);
}

void PortLink::markDown()
{
    if (m_down)
        return;
    m_down = true;
    emit down();
}
