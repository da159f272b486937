#include "hostlib/PortCloser.h"

#include "hostlib/LogReceiver.h"
#include "hostlib/PortWriter.h"
#include "host/Plugin_Com_Port.h"

PortCloser::PortCloser(Plugin_Com_Port *port, PortWriter *writer, LogReceiver *log, QObject *parent)
    : QObject(parent), m_port(port), m_writer(writer)
{
    m_settle.setSingleShot(true);
    m_deadline.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, &PortCloser::closeNow);
    connect(&m_deadline, &QTimer::timeout, this, &PortCloser::onTimeout);
    connect(m_port, &AbstractTreeItem::dataChanged, this, &PortCloser::onDataChanged);
    if (log)
        connect(log, &LogReceiver::lineLogged, this, &PortCloser::onLine);
}

void PortCloser::close(int timeoutMs)
{
    if (m_busy)
        return;
    m_busy = true;
    m_timedOut = false;
    m_deadline.start(timeoutMs);
    const QString kind = m_port->typeKey();
    if (kind == QLatin1String("com") || kind == QLatin1String("canBus")) {
        const qint64 wait = settleMs + (m_writer ? m_writer->msUntilSent() : 0);
        m_settle.start(int(qMin<qint64>(wait, timeoutMs)));
        return;
    }
    closeNow();
}

void PortCloser::closeNow()
{
    if (!m_busy)
        return;
    m_disconnectRequests = 0;
    m_changesDuringClose = 0;
    m_inClose = true;
    m_port->close();
    m_inClose = false;
    // close() announces one change itself; every other change during it was
    // a connection that went at once.
    m_connectionsLeft = qMax(0, m_disconnectRequests - qMax(0, m_changesDuringClose - 1));
    checkDone();
}

void PortCloser::onDataChanged()
{
    if (!m_busy)
        return;
    if (m_inClose) {
        ++m_changesDuringClose;
        return;
    }
    if (m_connectionsLeft > 0)
        --m_connectionsLeft;
    checkDone();
}

void PortCloser::onLine(const QString &, const QString &text)
{
    if (m_busy && m_inClose && text.endsWith(QLatin1String("::~disconnectFromHost()")))
        ++m_disconnectRequests;
}

void PortCloser::checkDone()
{
    if (!m_busy || m_inClose || m_settle.isActive())
        return;
    if (!m_port->opened() && m_connectionsLeft == 0)
        done();
}

void PortCloser::onTimeout()
{
    if (!m_busy)
        return;
    m_timedOut = true;
    LogReceiver::post(QStringLiteral("warning"),
                      QStringLiteral("the %1 link did not finish closing in time").arg(m_port->typeKey()));
    if (m_settle.isActive()) {
        m_settle.stop();
        m_inClose = true;
        m_port->close();
        m_inClose = false;
    }
    done();
}

void PortCloser::done()
{
    m_busy = false;
    m_deadline.stop();
    emit finished();
}
