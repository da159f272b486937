#include "tcpclient/PCom_SocketClientPort.h"

#include "tcpclient/PCom_NetworkSession.h"
#include "core/PCom_Release.h"

#include <QCoreApplication>
#include <QDebug>

PCom_SocketClientPort::PCom_SocketClientPort(Plugin_Com_Device *device, const QString &typeKey)
    : PCom_Port(device, typeKey)
{
}

PCom_SocketClientPort::~PCom_SocketClientPort()
{
    pcomRelease(m_socket);
    pcomRelease(m_networkSession);
}

TavlinProperty *PCom_SocketClientPort::declareRecord(const QString &name, TavlinProperty::InputType type,
                                                     const QString &defaultText, const QString &description,
                                                     QValidator *validator)
{
    TavlinProperty *record = declareProperty(name, type, defaultText, validator != nullptr);
    record->description = description;
    record->setSupportedVersion(Version(QStringLiteral("2.12")), Version(-1, 0, 0));
    if (validator)
        record->setValidator(validator);
    return record;
}

void PCom_SocketClientPort::logInfo(const QString &text) const
{
    qInfo().noquote() << text;
}

QString PCom_SocketClientPort::translated(const char *text) const
{
    return QCoreApplication::translate(metaObject()->className(), text);
}

bool PCom_SocketClientPort::opened() const
{
    return m_socket != nullptr;
}

bool PCom_SocketClientPort::openPrivate(QFlags<OpenModeFlag>)
{
    if (m_socket) {
        if (refreshesLocksOnRefusedOpen())
            updatePropertiesState();
        return false;
    }

    m_socket = createSocket();
    connect(m_socket, SIGNAL(hostFound()), this, SLOT(onHostFound()));
    connect(m_socket, SIGNAL(connected()), this, SLOT(onSocketConnected()));
    connect(m_socket, SIGNAL(disconnected()), this, SLOT(onSocketDisconnected()));
    connect(m_socket, SIGNAL(readyRead()), this, SIGNAL(readyRead()));
    connect(m_socket, SIGNAL(error(QAbstractSocket::SocketError)), this,
            SLOT(onDisplayError(QAbstractSocket::SocketError)));

    startNetworkSession<PCom_SocketClientPort>(
        this, m_networkSession, typeKey(), &PCom_SocketClientPort::onSessionOpened,
        [this](const QString &text) { logInfo(text); }, &PCom_SocketClientPort::onSessionFailed);
    updatePropertiesState();
    return true;
}

// Only a connected (or bound) socket is asked to finish; it is released when
// it reports the end of the link. A socket still waiting for its session,
// looking up the host or connecting would never report an end (or would
// connect after all), so closing gives it up at once.
void PCom_SocketClientPort::closePrivate()
{
    if (!m_socket)
        return;
    const QAbstractSocket::SocketState state = m_socket->state();
    if (state != QAbstractSocket::ConnectedState && state != QAbstractSocket::BoundState
        && state != QAbstractSocket::ClosingState) {
        m_socket->abort();
        dropPendingOpen();
        return;
    }
    m_socket->disconnectFromHost();
    updatePropertiesState();
}

void PCom_SocketClientPort::onSessionOpened()
{
    logInfo(QStringLiteral("%1: Session opened").arg(typeKey()));
    if (m_socket) {
        logInfo(QStringLiteral("%1: Connecting to host...").arg(typeKey()));
        startLink();
    }
}

// Reported whatever the socket's state; only a socket still waiting for the
// failed session is given up, since nothing else would ever release it.
void PCom_SocketClientPort::onSessionFailed()
{
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    qCritical().noquote() << QStringLiteral("%1: Network session failed: %2")
                                 .arg(typeKey(), m_networkSession ? m_networkSession->errorString() : QString());
    QT_WARNING_POP
    if (m_socket && m_socket->state() == QAbstractSocket::UnconnectedState)
        dropPendingOpen();
}

// The session is released with the socket: opening it later would only
// report "Session opened" for a port that no longer waits for it.
void PCom_SocketClientPort::dropPendingOpen()
{
    pcomRelease(m_networkSession);
    onSocketDisconnected();
}

void PCom_SocketClientPort::onHostFound()
{
    logInfo(QStringLiteral("%1: Host found").arg(typeKey()));
}

void PCom_SocketClientPort::onSocketConnected()
{
    logInfo(QStringLiteral("%1: Connected").arg(typeKey()));
}

// Runs inside the socket's own signal: the socket is only marked for
// deletion, and no further signal of it reaches the port.
void PCom_SocketClientPort::onSocketDisconnected()
{
    if (m_socket) {
        logInfo(QStringLiteral("%1: Disconnected").arg(typeKey()));
        pcomRelease(m_socket);
    }
    updatePropertiesState();
    raiseDataChanged();
}

// Every socket error ends the link.
void PCom_SocketClientPort::onDisplayError(QAbstractSocket::SocketError socketError)
{
    switch (socketError) {
    case QAbstractSocket::RemoteHostClosedError:
        qCritical().noquote() << remoteClosedText();
        break;
    case QAbstractSocket::HostNotFoundError:
        qCritical().noquote() << translated("The host was not found. Please check the host name and port settings.");
        break;
    case QAbstractSocket::ConnectionRefusedError:
        qCritical().noquote() << translated("The connection was refused by the peer. Make sure the server is "
                                            "running, and that the host name and port settings are correct.");
        break;
    default:
        qCritical().noquote() << translated("The following error occurred: %1.")
                                     .arg(m_socket ? m_socket->errorString() : QString());
        break;
    }
    onSocketDisconnected();
}
