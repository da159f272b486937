#include "network/PCom_SocketClientPort.h"

#include "network/PCom_NetworkSession.h"
#include "network/PCom_SocketTls.h"
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

PCom_Port::Record PCom_SocketClientPort::endpointRecord(const QString &name, const QString &defaultText,
                                                        const QString &description, Check check,
                                                        std::function<QVariant()> read,
                                                        std::function<void(const QVariant &)> apply)
{
    return {name, TavlinProperty::FreeText, defaultText, description, Shown::From212, Access::WhileClosed,
            check, {}, std::move(read), std::move(apply)};
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
    m_socket->setReadBufferSize(m_readBufferSize);
    m_closeRequested = false;
    clearLinkLoss();
    PCom_SocketTls::relayBytesWritten(m_socket, linkStatus());
    connect(m_socket, SIGNAL(hostFound()), this, SLOT(onHostFound()));
    connect(m_socket, SIGNAL(connected()), this, SLOT(onSocketConnected()));
    connect(m_socket, SIGNAL(disconnected()), this, SLOT(onSocketDisconnected()));
    PCom_SocketTls::relayReadyRead(m_socket, this, [this] { emit readyRead(); });
    connect(m_socket, SIGNAL(error(QAbstractSocket::SocketError)), this,
            SLOT(onDisplayError(QAbstractSocket::SocketError)));

    startNetworkSession<PCom_SocketClientPort>(
        this, m_networkSession, typeKey(), &PCom_SocketClientPort::onSessionOpened,
        [this](const QString &text) { logInfo(text); }, &PCom_SocketClientPort::onSessionFailed);
    updatePropertiesState();
    return true;
}

// The socket is asked to finish and released only when it reports the end
// of the link, so "connect" reads true until then. A socket that is still
// looking up the host or connecting finishes once Qt has connected it; the
// network session is left as it is.
void PCom_SocketClientPort::closePrivate()
{
    if (!m_socket)
        return;
    m_closeRequested = true;
    m_socket->disconnectFromHost();
    updatePropertiesState();
}

// An abort of a connected socket tells its end through disconnected(); one
// that was still connecting tells nothing, so the end is taken here.
void PCom_SocketClientPort::abortLink()
{
    if (!m_socket)
        return;
    m_closeRequested = true;
    m_socket->abort();
    if (m_socket)
        onSocketDisconnected();
}

PCom_LinkStatus::LinkState PCom_SocketClientPort::linkState() const
{
    if (!m_socket)
        return LinkState::Closed;
    if (m_closeRequested)
        return LinkState::Closing;
    const QAbstractSocket::SocketState state = m_socket->state();
    if (state == QAbstractSocket::ConnectedState || state == QAbstractSocket::BoundState)
        return LinkState::Open;
    return LinkState::Opening;
}

qint64 PCom_SocketClientPort::bytesToWrite() const
{
    return m_socket ? PCom_SocketTls::backlog(m_socket) : 0;
}

void PCom_SocketClientPort::flush()
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->flush();
}

QString PCom_SocketClientPort::lastErrorString() const
{
    return m_lastError;
}

void PCom_SocketClientPort::setReadBufferSize(qint64 size)
{
    m_readBufferSize = size;
    if (m_socket)
        m_socket->setReadBufferSize(size);
}

// A port that the host closed while it waited for the session finishes its
// close here instead of connecting.
void PCom_SocketClientPort::onSessionOpened()
{
    logInfo(QStringLiteral("%1: Session opened").arg(typeKey()));
    if (m_socket && m_closeRequested) {
        onSocketDisconnected();
    } else if (m_socket) {
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
    if (m_socket && m_socket->state() == QAbstractSocket::UnconnectedState) {
        m_lastError = m_networkSession ? m_networkSession->errorString() : QString();
        reportLinkLost(LossKind::Failed, m_lastError);
        dropPendingOpen();
    }
    QT_WARNING_POP
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
    if (m_socket)
        PCom_SocketTls::announceLeftovers(m_socket, [this] { emit readyRead(); });
    if (m_socket) {
        logInfo(QStringLiteral("%1: Disconnected").arg(typeKey()));
        pcomRelease(m_socket);
    }
    m_closeRequested = false;
    updatePropertiesState();
    raiseDataChanged();
}

// Every socket error ends the link.
void PCom_SocketClientPort::onDisplayError(QAbstractSocket::SocketError socketError)
{
    // Without a socket (released by an earlier error) Qt's text is empty.
    const QString qtError = m_socket ? m_socket->errorString() : QString();
    if (!qtError.isEmpty())
        m_lastError = qtError;
    const ErrorTexts texts = errorTexts();
    // The loss first: a host learns that an end was orderly before the line
    // about it.
    if (!m_closeRequested) {
        const QString reset = socketError == QAbstractSocket::RemoteHostClosedError ? resetReason() : QString();
        if (!reset.isEmpty())
            m_lastError = reset;
        reportLinkLost(socketError == QAbstractSocket::RemoteHostClosedError && reset.isEmpty() ? LossKind::PeerClosed
                                                                                              : LossKind::Failed,
                       m_lastError);
    }
    switch (socketError) {
    case QAbstractSocket::RemoteHostClosedError:
        qCritical().noquote() << translated(texts.remoteClosed);
        break;
    case QAbstractSocket::HostNotFoundError:
        qCritical().noquote() << translated(texts.hostNotFound);
        break;
    case QAbstractSocket::ConnectionRefusedError:
        qCritical().noquote() << translated(texts.refused);
        break;
    default:
        qCritical().noquote() << translated(texts.other).arg(qtError);
        break;
    }
    onSocketDisconnected();
}
