#include "tcpserver/PCom_TcpServer_Port.h"

#include "core/PCom_Names.h"
#include "core/PCom_PortStatus.h"
#include "core/PCom_Release.h"
#include "network/PCom_NetworkSession.h"
#include "network/PCom_SocketTls.h"
#include "tcpserver/PCom_TcpServer_Clients.h"
#include "tcpserver/PCom_TcpServer_Listener.h"
#include "host/Plugin_Com_Device.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
const QString kTypeKey = PCom_Names::tcpServer();

void logProgress(const QString &text)
{
    Plugin_Com_Device::log(KrLog_Interface::Progress, text);
}

PCom_Port::Record endpointRecord(const QString &name, const QString &defaultText, const QString &description,
                                 PCom_Port::Check check, std::function<QVariant()> read,
                                 std::function<void(const QVariant &)> apply)
{
    return {name,  TavlinProperty::FreeText, defaultText,     description,    PCom_Port::Shown::From212,
            PCom_Port::Access::WhileClosed,  check, {}, std::move(read), std::move(apply)};
}
}

// Written values are stored as they are; a running server keeps its binding
// until the next open.
PCom_TcpServer_Port::PCom_TcpServer_Port(Plugin_Com_Device *device)
    : PCom_Port(device, kTypeKey),
      m_clients(new PCom_TcpServer_Clients(portStatus(), m_socketOwners, m_tcpServer)),
      m_tls(new PCom_SocketTls(portStatus(), true))
{
    declareRecords(
        {
            endpointRecord(QStringLiteral("port"), QStringLiteral("0"), QStringLiteral("Port where the server listen on"),
                           Check::PortNumber, [this] { return QVariant(int(m_port)); },
                           [this](const QVariant &value) { m_port = quint16(value.toUInt() & 0xFFFF); }),
            endpointRecord(QStringLiteral("address"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("IP address where the server listen on"), Check::IpAddress,
                           [this] { return QVariant(m_address); },
                           [this](const QVariant &value) { m_address = value.toString(); }),
        },
        QStringLiteral("Enable / disable the server for listening for connection"), Shown::From212);
}

// Clients go first, the most recently accepted first, without the
// disconnection chain: nothing is logged and nothing is announced.
PCom_TcpServer_Port::~PCom_TcpServer_Port()
{
    while (!m_socketOwners.isEmpty())
        delete m_socketOwners.takeLast();
    pcomRelease(m_tcpServer);
    pcomRelease(m_networkSession);
}

bool PCom_TcpServer_Port::opened() const
{
    return m_tcpServer && m_tcpServer->isListening();
}

void PCom_TcpServer_Port::createServer()
{
    if (m_serverCreated)
        return;
    m_serverCreated = true;

    startNetworkSession(this, m_networkSession, kTypeKey, &PCom_TcpServer_Port::sessionOpened, logProgress);

    logProgress(QStringLiteral("%1: The following server addresses are available:").arg(kTypeKey));
    logProgress(QStringLiteral("%1: - any").arg(kTypeKey));
    const auto addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (address.toIPv4Address() != 0)
            logProgress(QStringLiteral("%1: - IPv4: %2").arg(kTypeKey, address.toString()));
    }
}

bool PCom_TcpServer_Port::openPrivate(QFlags<OpenModeFlag>)
{
    createServer();

    // Without a server the network session is still opening; the host opens
    // again once it is.
    bool result = false;
    if (m_tcpServer) {
        QHostAddress address;
        if (m_address == QLatin1String("any")) {
            address = QHostAddress::Any;
        } else if (m_address.isEmpty()) {
            m_lastError = tr("IP address not set");
            Plugin_Com_Device::log(KrLog_Interface::Error, m_lastError);
            return false;
        } else {
            address.setAddress(m_address);
        }

        result = m_tcpServer->listen(address, m_port);
        if (result) {
            logProgress(QStringLiteral("%1: Server running on IP %2, port %3")
                            .arg(kTypeKey, m_address, QString::number(m_tcpServer->serverPort())));
        } else {
            m_lastError = m_tcpServer->errorString();
            Plugin_Com_Device::log(KrLog_Interface::Error, tr("Unable to start the server: %1").arg(m_lastError));
            closePrivate();
        }
    }
    updatePropertiesState();
    return result;
}

void PCom_TcpServer_Port::closePrivate()
{
    // A client that disconnects at once is removed and destroyed inside
    // disconnectFromHost(), hence the copy; one that is already gone is
    // not asked again.
    const auto owners = m_socketOwners;
    for (PCom_TcpServer_SockerOwner *owner : owners) {
        if (m_socketOwners.contains(owner))
            owner->disconnectFromHost();
    }
    if (m_tcpServer)
        m_tcpServer->close();
    updatePropertiesState();
}

PCom_LinkStatus::LinkState PCom_TcpServer_Port::linkState() const
{
    if (opened())
        return LinkState::Open;
    return m_socketOwners.isEmpty() ? LinkState::Closed : LinkState::Closing;
}

// A client aborted is removed inside abort(), hence the copy.
void PCom_TcpServer_Port::abortLink()
{
    const auto owners = m_socketOwners;
    for (PCom_TcpServer_SockerOwner *owner : owners) {
        if (m_socketOwners.contains(owner)) {
            owner->setLeaving();
            owner->socket()->abort();
        }
    }
    close();
}

int PCom_TcpServer_Port::writeByteStream(const char *data, int size)
{
    if (m_socketOwners.isEmpty())
        return 0;

    qint64 written = 0;
    const auto owners = m_socketOwners;
    for (PCom_TcpServer_SockerOwner *owner : owners) {
        if (owner->isLeaving())
            continue;
        written = owner->socket()->write(data, qint64(size));
        if (written != size) {
            Plugin_Com_Device::log(KrLog_Interface::Error,
                                   QStringLiteral("PCom_TcpServer_Port: %1 byte could not be send")
                                       .arg(bytesNotAccepted(size, written)));
        }
    }
    return int(written);
}

// One client per call (see PCom_TcpServer_Clients::readClientBytes).
int PCom_TcpServer_Port::readByteStream(char *data, int maxSize)
{
    return m_clients->readClientBytes(data, maxSize, nullptr);
}

AbstractTreeItem *PCom_TcpServer_Port::createInstance()
{
    return new PCom_TcpServer_Port(device());
}

void PCom_TcpServer_Port::traceSet(const QString &name, const QVariant &value)
{
    Plugin_Com_Device::log(KrLog_Interface::Trace,
                           QStringLiteral("PCom_TcpServer_Port(%1)::setTavlinProperty(%2, %3) ")
                               .arg(QStringLiteral("Server"), name, value.toString()));
}

// Should the session report opened() again, the server that the port already
// has stays, with its binding and its clients: a second one would orphan
// the first.
void PCom_TcpServer_Port::sessionOpened()
{
    logProgress(QStringLiteral("%1: Session opened").arg(kTypeKey));
    if (!m_tcpServer) {
        m_tcpServer = new PCom_TcpServer_Listener(m_tls, m_clients);
        m_tcpServer->setMaxPendingConnections(1);
        connect(m_tcpServer, SIGNAL(newConnection()), this, SLOT(newConnection()));
    }
    updatePropertiesState();
    raiseDataChanged();
}

// Accepting pauses before the connection is taken. A signal with nothing
// pending creates no client and only resumes accepting, so that the
// server does not stay deaf.
void PCom_TcpServer_Port::newConnection()
{
    if (!m_tcpServer || !m_tcpServer->isListening())
        return;
    m_tcpServer->pauseAccepting();
    if (!m_tcpServer->hasPendingConnections()) {
        m_tcpServer->resumeAccepting();
        return;
    }

    // A peer off the allow-list is never taken over: closed at once, and
    // only the host of ours that set the list hears of it. Without a list
    // the line comes before the server hands the connection out (which
    // lets it accept again), as it always did.
    QTcpSocket *socket = nullptr;
    if (m_clients->hasAllowList()) {
        socket = m_tcpServer->nextPendingConnection();
        if (!m_clients->allows(socket->peerAddress())) {
            const QString peer = PCom_TcpServer_SockerOwner::peerText(socket);
            socket->abort();
            pcomRelease(socket);
            m_clients->resumeAccepting();
            emit m_clients->clientRefused(peer, PCom_ServedClients::Refusal::NotAllowed,
                                          QStringLiteral("not on the allow-list"));
            return;
        }
    }

    logProgress(QStringLiteral("%1: New connection").arg(kTypeKey));
    if (!socket)
        socket = m_tcpServer->nextPendingConnection();
    auto *owner = new PCom_TcpServer_SockerOwner(socket);
    owner->setId(++m_lastClientId);
    connect(owner, SIGNAL(disconnected(PCom_TcpServer_SockerOwner *)), this,
            SLOT(disconnected(PCom_TcpServer_SockerOwner *)));
    connect(owner, SIGNAL(readyRead()), this, SIGNAL(readyRead()));
    PCom_SocketTls::relayBytesWritten(socket, linkStatus());
    connect(socket, &QTcpSocket::bytesWritten, owner, [owner](qint64 count) { owner->addWritten(count); });
    socket->setReadBufferSize(m_readBufferSize);
    m_socketOwners.append(owner);
    updatePropertiesState();
    if (m_clients->keepsAccepting())
        m_clients->resumeAccepting();
    // The host may close the client from inside this signal.
    emit m_clients->clientJoined(PCom_TcpServer_Clients::infoOf(owner));
    raiseDataChanged();
}

// Runs while the owner is still emitting; it does nothing after that.
void PCom_TcpServer_Port::disconnected(PCom_TcpServer_SockerOwner *socketOwner)
{
    PCom_ClientInfo left;
    if (socketOwner && m_socketOwners.removeOne(socketOwner)) {
        left = PCom_TcpServer_Clients::infoOf(socketOwner);
        delete socketOwner;
    }
    m_clients->resumeAccepting();
    updatePropertiesState();
    if (left.id != 0)
        emit m_clients->clientLeft(left);
    raiseDataChanged();
}

qint64 PCom_TcpServer_Port::bytesToWrite() const
{
    qint64 total = 0;
    // A client that the host is closing no longer holds the line back.
    for (const PCom_TcpServer_SockerOwner *owner : m_socketOwners) {
        if (!owner->isLeaving())
            total += PCom_SocketTls::backlog(owner->socket());
    }
    return total;
}

void PCom_TcpServer_Port::flush()
{
    for (const PCom_TcpServer_SockerOwner *owner : m_socketOwners) {
        if (!owner->isLeaving())
            owner->socket()->flush();
    }
}

QString PCom_TcpServer_Port::lastErrorString() const
{
    return m_lastError;
}

void PCom_TcpServer_Port::setReadBufferSize(qint64 size)
{
    m_readBufferSize = size;
    for (PCom_TcpServer_SockerOwner *owner : qAsConst(m_socketOwners))
        owner->socket()->setReadBufferSize(size);
}
