#pragma once

#include "tests/support/LogCapture.h"
#include "tcpserver/PCom_TcpServer_Device.h"
#include "tcpserver/PCom_TcpServer_Port.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// Helpers shared by the TCP server port tests: real client sockets on
// loopback against a port that listens on a port the system chooses.
namespace TcpServerTestUtil {

// The port number of the last "Server running" line, 0 if there is none.
inline quint16 runningPort(const LogCapture &log)
{
    static const QRegularExpression line(QStringLiteral("^tcpServer: Server running on IP .*, port (\\d+)$"));
    quint16 port = 0;
    for (const QString &text : log.deviceTexts(KrLog_Interface::Progress)) {
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch())
            port = quint16(match.captured(1).toUInt());
    }
    return port;
}

// How many times the device log carries exactly this line.
inline int countOf(const LogCapture &log, const QString &text)
{
    return log.deviceTexts().count(text);
}

// Opens the port on the given address and port 0; the chosen port, or 0
// when the open failed.
inline quint16 listen(PCom_TcpServer_Port &port, const LogCapture &log,
                      const QString &address = QStringLiteral("127.0.0.1"))
{
    port.setTavlinProperty(QStringLiteral("address"), address);
    port.setTavlinProperty(QStringLiteral("port"), 0);
    if (!port.open(Plugin_Com_Port::ReadWrite))
        return 0;
    return runningPort(log);
}

// Connects a client and waits, bounded, until its end is connected.
inline bool connectClient(QTcpSocket &client, const QHostAddress &host, quint16 port)
{
    QSignalSpy connected(&client, &QTcpSocket::connected);
    client.connectToHost(host, port);
    return client.state() == QAbstractSocket::ConnectedState || connected.wait(5000);
}

// Connects one more client and waits, bounded, until the port took it over.
inline bool addClient(QTcpSocket &client, const LogCapture &log, quint16 port,
                      const QHostAddress &host = QHostAddress(QHostAddress::LocalHost))
{
    const auto taken = [&log] { return log.deviceTexts().count(QStringLiteral("tcpServer: New connection")); };
    const int before = taken();
    return connectClient(client, host, port) && QTest::qWaitFor([&] { return taken() > before; }, 5000);
}

// Whether the server watches its listening socket for new connections:
// 1 yes, 0 paused, -1 not listening, -2 no watcher found.
inline int acceptingState(const QTcpServer *server)
{
    if (!server || !server->isListening())
        return -1;
    const auto notifiers = server->findChildren<QSocketNotifier *>();
    for (const QSocketNotifier *notifier : notifiers) {
        if (notifier->type() == QSocketNotifier::Read && notifier->socket() == server->socketDescriptor())
            return notifier->isEnabled() ? 1 : 0;
    }
    return -2;
}

// Runs the deferred deletions that a port's release left behind.
inline void flushDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace TcpServerTestUtil

// Gives every test function a new port of a new device.
class TcpServerPortTest : public QObject
{
    Q_OBJECT
protected slots:
    void init()
    {
        m_device = new PCom_TcpServer_Device(nullptr, nullptr);
        m_port = static_cast<PCom_TcpServer_Port *>(m_device->createPort());
    }
    void cleanup()
    {
        m_device->deletePort(m_port);
        delete m_device;
        TcpServerTestUtil::flushDeferredDeletes();
    }

protected:
    PCom_TcpServer_Device *m_device = nullptr;
    PCom_TcpServer_Port *m_port = nullptr;
};
