#include "network/PCom_SocketTls.h"

#include "core/PCom_LinkStatus.h"

#include <QSslSocket>
#include <QTimer>

#include <memory>

PCom_SocketTls::PCom_SocketTls(PCom_LinkStatus *status, bool server)
    : PCom_TlsSettings(status), m_server(server)
{
}

bool PCom_SocketTls::setTls(const PCom_TlsConfig &config, QString *error)
{
    QString why;
    if (config.enabled && !QSslSocket::supportsSsl())
        why = QStringLiteral("this Qt has no TLS back-end");
    else if (config.enabled && m_server && (config.certificates.isEmpty() || config.privateKey.isNull()))
        why = QStringLiteral("a TLS server needs a certificate and its private key");
    else if (config.certificates.isEmpty() != config.privateKey.isNull())
        why = QStringLiteral("a certificate goes with its private key");
    if (!why.isEmpty()) {
        if (error)
            *error = why;
        return false;
    }
    m_config = config;
    return true;
}

// A server asks for a client certificate only with CAs to check it against;
// then one is required (Qt reports a missing one as a handshake error).
QSslConfiguration PCom_SocketTls::configuration() const
{
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setProtocol(QSsl::TlsV1_2OrLater);
    if (!m_config.certificates.isEmpty()) {
        conf.setLocalCertificateChain(m_config.certificates);
        conf.setPrivateKey(m_config.privateKey);
    }
    if (m_server) {
        conf.setPeerVerifyMode(m_config.caCertificates.isEmpty() ? QSslSocket::VerifyNone : QSslSocket::VerifyPeer);
        conf.setCaCertificates(m_config.caCertificates);
    } else {
        conf.setPeerVerifyMode(m_config.verifyPeer ? QSslSocket::VerifyPeer : QSslSocket::VerifyNone);
        if (!m_config.caCertificates.isEmpty())
            conf.setCaCertificates(m_config.caCertificates);
    }
    return conf;
}

qint64 PCom_SocketTls::backlog(const QAbstractSocket *socket)
{
    const auto *tls = qobject_cast<const QSslSocket *>(socket);
    return socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
}

// QSslSocket's own bytesWritten() counts plain bytes as they are encrypted,
// while they still wait in the socket: a host that waited for the backlog
// to fall would wait for a signal that never came.
void PCom_SocketTls::relayBytesWritten(QAbstractSocket *socket, PCom_LinkStatus *status)
{
    if (auto *tls = qobject_cast<QSslSocket *>(socket))
        QObject::connect(tls, &QSslSocket::encryptedBytesWritten, status, &PCom_LinkStatus::bytesWritten);
    else
        QObject::connect(socket, &QAbstractSocket::bytesWritten, status, &PCom_LinkStatus::bytesWritten);
}

// QSslSocket announces every 4 KiB that it decrypts, from inside its own
// loop; a host that relayed each piece at once would send a record and a
// system call per 4 KiB. The announcement waits for the end of the pass (the
// socket reads no more than its read buffer holds meanwhile). It is bound to
// the receiver, which may outlive the socket but not the other way round.
void PCom_SocketTls::relayReadyRead(QAbstractSocket *socket, QObject *receiver, const std::function<void()> &announce)
{
    if (!qobject_cast<QSslSocket *>(socket)) {
        QObject::connect(socket, &QAbstractSocket::readyRead, receiver, announce);
        return;
    }
    auto pending = std::make_shared<bool>(false);
    QObject::connect(socket, &QAbstractSocket::readyRead, receiver, [receiver, announce, pending] {
        if (*pending)
            return;
        *pending = true;
        QTimer::singleShot(0, receiver, [announce, pending] {
            *pending = false;
            announce();
        });
    });
}

void PCom_SocketTls::announceLeftovers(const QAbstractSocket *socket, const std::function<void()> &announce)
{
    if (qobject_cast<const QSslSocket *>(socket) && socket->bytesAvailable() > 0)
        announce();
}
