#include "hostlib/LinkMonitor.h"

#include "hostlib/LogReceiver.h"
#include "host/Plugin_Com_Port.h"

#include <QTimer>

LinkMonitor::LinkMonitor(Plugin_Com_Port *port, LogReceiver *log, QObject *parent)
    : QObject(parent), m_port(port)
{
    connect(m_port, &AbstractTreeItem::dataChanged, this, &LinkMonitor::onDataChanged);
    if (log)
        connect(log, &LogReceiver::lineLogged, this, &LinkMonitor::onLine);
}

void LinkMonitor::start()
{
    m_watching = true;
    m_closing = false;
    m_closed = false;
    m_failure.clear();
    if (!m_port->opened())
        QTimer::singleShot(0, this, &LinkMonitor::onDataChanged);
}

bool LinkMonitor::isOrderlyClose(const QString &text)
{
    return text == QLatin1String("The server closed the connection.")
           || text == QLatin1String("The client closed the connection.")
           || text == QLatin1String("RemoteHostClosedError.");
}

void LinkMonitor::onDataChanged()
{
    if (!m_watching || m_closed || m_port->opened())
        return;
    m_closed = true;
    emit linkClosed(m_closing);
}

void LinkMonitor::onLine(const QString &kind, const QString &text)
{
    if (!m_watching || m_closed || !m_failure.isEmpty())
        return;
    if (kind != QLatin1String("error") && kind != QLatin1String("critical"))
        return;
    if (isOrderlyClose(text))
        return;
    m_failure = text;
}
