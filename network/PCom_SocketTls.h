#pragma once

#include "core/PCom_TlsSettings.h"

#include <QSslConfiguration>

#include <functional>

class PCom_LinkStatus;
class QAbstractSocket;

// The TLS face of a TCP server or client port, on its companion, and what
// both ports need to run TLS sockets: the Qt configuration of either role
// and the backlog of a socket that may be encrypting.
class PCom_SocketTls : public PCom_TlsSettings
{
    Q_OBJECT
public:
    // `server`: the setting is a server's, which needs a certificate and key.
    PCom_SocketTls(PCom_LinkStatus *status, bool server);

    bool setTls(const PCom_TlsConfig &config, QString *error) override;
    PCom_TlsConfig tls() const override { return m_config; }
    bool isOn() const { return m_config.enabled; }
    QSslConfiguration configuration() const;

    // What waits in the socket: with TLS the bytes not yet encrypted and the
    // records not yet taken by the system.
    static qint64 backlog(const QAbstractSocket *socket);
    // Announces on the companion what the system took from the socket: with
    // TLS, records (whose count leaves the backlog), without, bytes.
    static void relayBytesWritten(QAbstractSocket *socket, PCom_LinkStatus *status);
    // Runs `announce` on `receiver` when the socket has bytes to read: with
    // TLS once for all that one pass of the socket decrypted.
    static void relayReadyRead(QAbstractSocket *socket, QObject *receiver, const std::function<void()> &announce);
    // For the end of a TLS socket, which may come before the announcement
    // of its last bytes: runs `announce` at once while bytes wait to be read.
    static void announceLeftovers(const QAbstractSocket *socket, const std::function<void()> &announce);

private:
    PCom_TlsConfig m_config;
    bool m_server;
};
