#include "tests/support/EventWait.h"
#include "tests/support/LogCapture.h"
#include "tcpserver/PCom_TcpServer_Device.h"
#include "tcpserver/PCom_TcpServer_Port.h"
#include "core/PCom_ServedClients.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

// Connects one more client and waits, bounded, until the port took it over.
bool addClient(QTcpSocket &client, const LogCapture &log, quint16 port,
               const QHostAddress &host = QHostAddress(QHostAddress::LocalHost))
{
    const auto taken = [&log] { return log.deviceTexts().count(QStringLiteral("tcpServer: New connection")); };
    const int before = taken();
    client.connectToHost(host, port);
    return client.waitForConnected(5000) && QTest::qWaitFor([&] { return taken() > before; }, 5000);
}

const QString s_asked = QStringLiteral("tcpServer: PCom_TcpServer_SockerOwner::~disconnectFromHost()");

} // namespace

// The TCP server port: its server's creation, listening and closing, and its
// clients from acceptance to release, with real client sockets on loopback.
class tst_TcpServer : public QObject
{
    Q_OBJECT
private slots:
    // Every test function gets a new port of a new device.
    void init()
    {
        m_device = new PCom_TcpServer_Device(nullptr, nullptr);
        m_port = static_cast<PCom_TcpServer_Port *>(m_device->createPort());
    }
    void cleanup()
    {
        m_device->deletePort(m_port);
        delete m_device;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void openCloseReopen();
    void openFailures();
    void clients();

private:
    PCom_TcpServer_Device *m_device = nullptr;
    PCom_TcpServer_Port *m_port = nullptr;
    bool writable(const char *name) const { return m_port->tavlinProperty(name)->isWritable(); }
    quint16 listening() const { return m_port->tcpServer()->serverPort(); }
    // The line of a server running on that address and the port it listens on.
    QString running(const char *address) const
    {
        return QStringLiteral("tcpServer: Server running on IP %1, port %2").arg(address, QString::number(listening()));
    }
};

void tst_TcpServer::openCloseReopen()
{
    LogCapture log;
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    // A port number is cut to 16 bits; each change is announced and traced
    // naming the server. Building the port creates no server.
    QCOMPARE(m_port->setTavlinProperty("port", 70000), QVariant(4464));
    QCOMPARE(m_port->setTavlinProperty("port", QStringLiteral("0")), QVariant(0));
    m_port->setTavlinProperty("address", QStringLiteral("127.0.0.1"));
    QCOMPARE(changed.count(), 3);
    QCOMPARE(log.texts(), (QStringList{"PCom_TcpServer_Port(Server)::setTavlinProperty(port, 70000) ",
                                       "PCom_TcpServer_Port(Server)::setTavlinProperty(port, 0) ",
                                       "PCom_TcpServer_Port(Server)::setTavlinProperty(address, 127.0.0.1) "}));
    QVERIFY(!m_port->tcpServer());

    // The first open lists the addresses; the system's choice of port shows
    // in the log only.
    log.clear();
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(log.deviceTexts(KrLog_Interface::Progress), log.texts());
    QCOMPARE(log.texts().mid(0, 3), (QStringList{"tcpServer: Session opened",
                                                 "tcpServer: The following server addresses are available:",
                                                 "tcpServer: - any"}));
    QVERIFY(log.contains("tcpServer: - IPv4: 127.0.0.1") && listening() != 0);
    QCOMPARE(log.texts().last(), running("127.0.0.1"));
    QCOMPARE(m_port->getTavlinProperty("port"), QVariant(0));
    QVERIFY(!writable("port") && !writable("address") && writable("connect") && !writable("plugin"));

    // A new address is stored for the next open; closing unlocks; the
    // reopen, without the set-up lines, takes it.
    m_port->setTavlinProperty("address", QStringLiteral("127.0.0.2"));
    QCOMPARE(m_port->tcpServer()->serverAddress(), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(m_port->setTavlinProperty("connect", false), QVariant(false));
    QVERIFY(writable("port") && writable("address") && !writable("plugin"));
    log.clear();
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    QCOMPARE(log.texts(), QStringList{running("127.0.0.2")});
    QTcpSocket client;
    QVERIFY(addClient(client, log, listening(), QHostAddress(QStringLiteral("127.0.0.2"))));

    // Destroying the port releases its client without a line.
    log.clear();
    m_device->deletePort(m_port);
    m_port = static_cast<PCom_TcpServer_Port *>(m_device->createPort());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(log.texts().isEmpty());
}

void tst_TcpServer::openFailures()
{
    LogCapture log;
    const auto failedOpen = [&] {
        log.clear();
        return !m_port->open(Plugin_Com_Port::ReadWrite) && m_port->getTavlinProperty("connect") == QVariant(false) &&
               writable("port") && writable("address");
    };
    // No address: no listen is tried.
    QVERIFY(failedOpen());
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error), QStringList{"IP address not set"});

    // "any" listens on IPv4 and, where the machine has it, IPv6.
    m_port->setTavlinProperty("address", QStringLiteral("any"));
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    const quint16 chosen = listening();
    m_port->setTavlinProperty("port", chosen);
    QVERIFY(log.contains(running("any")));
    QTcpSocket v4, v6;
    QVERIFY(addClient(v4, log, chosen));
    QTcpServer probe;
    const bool ipv6 = probe.listen(QHostAddress::LocalHostIPv6);
    if (ipv6)
        QVERIFY(addClient(v6, log, chosen, QHostAddress(QHostAddress::LocalHostIPv6)));

    // A second open while listening fails like any other listen, with the
    // system's reason, and stops the server, releasing its clients.
    QVERIFY(failedOpen());
    QCOMPARE(log.deviceTexts(KrLog_Interface::Error),
             QStringList{QStringLiteral("Unable to start the server: %1").arg(m_port->tcpServer()->errorString())});
    QTRY_COMPARE(v4.state(), QAbstractSocket::UnconnectedState);

    // An address holding a "%1" (a scope) is logged as written.
    if (ipv6) {
        m_port->setTavlinProperty("address", QStringLiteral("::1%1"));
        QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
        QVERIFY(log.contains(running("::1%1")));
    }
}

void tst_TcpServer::clients()
{
    LogCapture log;
    char buffer[64];
    // The companion bounds what is read ahead of the host.
    PCom_LinkStatus *status = m_port->linkStatus();
    QVERIFY(!status->canCloseWrite());
    status->setReadBufferSize(1024);
    m_port->setTavlinProperty("address", QStringLiteral("127.0.0.1"));
    QVERIFY(m_port->open(Plugin_Com_Port::ReadWrite));
    const quint16 chosen = listening();
    QSignalSpy changed(m_port, &AbstractTreeItem::dataChanged);
    log.clear();
    // Without clients: no traffic and no message.
    QCOMPARE(m_port->writeRawData("abc", 3), 0);
    QCOMPARE(m_port->readRawData(buffer, sizeof buffer), -1);

    // Each new client is announced; accepted sockets are connected already:
    // no "Connected" line. A write goes to every client; the backlog is the
    // sum over the clients.
    QTcpSocket first, second;
    QVERIFY(addClient(first, log, chosen) && addClient(second, log, chosen));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(log.texts(), (QStringList{"tcpServer: New connection", "tcpServer: New connection"}));
    QCOMPARE(m_port->writeRawData("to\0all", 6), 6);
    QCOMPARE(status->bytesToWrite(), qint64(12));
    for (QTcpSocket *client : {&first, &second}) {
        QTRY_COMPARE(client->bytesAvailable(), qint64(6));
        QCOMPARE(client->readAll(), QByteArray("to\0all", 6));
    }

    // Both hold bytes, the later client's arrived first, each announced by
    // the port's readyRead. One client per read, in order of acceptance, so
    // nothing is overwritten; a read takes what fits.
    QSignalSpy ready(m_port, &Plugin_Com_Port::readyRead);
    second.write("22222222");
    first.write("111");
    const auto held = [this] {
        qint64 bytes = 0;
        for (QTcpSocket *socket : m_port->tcpServer()->findChildren<QTcpSocket *>())
            bytes += socket->bytesAvailable();
        return bytes;
    };
    QTRY_COMPARE(held(), qint64(11));
    QVERIFY(ready.count() >= 2);
    const QList<QPair<int, QByteArray>> reads{{64, "111"}, {5, "22222"}, {64, "222"}};
    for (const auto &read : reads) {
        const int n = m_port->readRawData(buffer, read.first);
        QCOMPARE(QByteArray(buffer, qMax(n, 0)), read.second);
    }
    QCOMPARE(m_port->readRawData(buffer, sizeof buffer), -1);
    QCOMPARE(status->bytesToWrite(), qint64(0));
    ready.clear();
    QVERIFY(first.write(QByteArray(64 * 1024, 'z')) && ready.wait(5000));
    QVector<char> big(64 * 1024);
    const int bounded = m_port->readRawData(big.data(), big.size());
    QVERIFY2(bounded > 0 && bounded <= 1024, qPrintable(QString::number(bounded)));
    int total = bounded;
    const auto readMore = [&] { return (total += qMax(0, m_port->readRawData(big.data(), big.size()))) == 64 * 1024; };
    QVERIFY(EventWait::until(readMore, 5000));

    // A client leaving is released and announced, and accepting resumes,
    // even when paused from outside; further writes skip it.
    m_port->tcpServer()->pauseAccepting();
    log.clear();
    changed.clear();
    first.disconnectFromHost();
    QTRY_VERIFY(log.contains("The client closed the connection."));
    QCOMPARE(log.texts().size(), 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(m_port->writeByteStream("rest", 4), 4);
    QTRY_COMPARE(second.bytesAvailable(), qint64(4));
    QCOMPARE(second.readAll(), QByteArray("rest"));
    QTcpSocket third;
    QVERIFY(addClient(third, log, chosen));

    // Closing: each client is asked to go before the server stops; bytes
    // still in a socket are sent after the server stopped.
    const QByteArray last = QByteArray("last words").repeated(400 * 1024);
    QCOMPARE(m_port->writeByteStream(last.constData(), last.size()), last.size());
    log.clear();
    changed.clear();
    QSignalSpy left(status->face<PCom_ServedClients>(), &PCom_ServedClients::clientLeft);
    m_port->close();
    QVERIFY(!m_port->opened() && status->linkState() == PCom_LinkStatus::LinkState::Closing);
    QCOMPARE(log.deviceTexts(KrLog_Interface::Trace), (QStringList{s_asked, s_asked}));
    QTRY_COMPARE(log.texts().count("tcpServer: Disconnected"), 2);
    QVERIFY(changed.count() >= 2);
    for (QTcpSocket *client : {&second, &third}) {
        QByteArray got;
        QTRY_VERIFY((got += client->readAll()).size() == last.size() && client->state() == QAbstractSocket::UnconnectedState);
        QVERIFY(got == last);
    }
    // What left at the close counts as written to each client, and then the
    // link has ended.
    QTRY_COMPARE(status->linkState(), PCom_LinkStatus::LinkState::Closed);
    QStringList written;
    for (const QList<QVariant> &args : qAsConst(left))
        written << QString::number(args.at(0).value<PCom_ClientInfo>().bytesWritten);
    QCOMPARE(written, (QStringList{QString::number(10 + last.size()), QString::number(last.size())}));
}

QTEST_GUILESS_MAIN(tst_TcpServer)
#include "tst_tcpserver.moc"
