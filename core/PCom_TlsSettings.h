#pragma once

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// What a TLS side of a network port shows and checks. A TCP server speaks TLS
// once it has a certificate; a TCP client once `enabled` is set.
struct PCom_TlsConfig {
    bool enabled = false;
    // The own certificate (a server's; a client's to show when asked), then
    // any intermediates, and its private key.
    QList<QSslCertificate> certificates;
    QSslKey privateKey;
    // A server: the CAs that a client's certificate must be signed by (empty:
    // no client certificate asked for). A client: the CAs that the server's
    // certificate must be signed by (empty: the system's).
    QList<QSslCertificate> caCertificates;
    // A client: the name that the server's certificate must carry (empty:
    // the address connected to).
    QString peerName;
    // A client: false turns every check of the server's certificate off.
    bool verifyPeer = true;
};

// The TLS face of a TCP server or TCP client port, a child of its
// PCom_LinkStatus. A client port takes the setting at its next open, a
// server at each client that it accepts. Always TLS 1.2 or later. A server counts a client as joined once
// the handshake is over: a failed handshake, a client without a certificate
// or with one of another CA is refused (PCom_ServedClients::clientRefused).
// A client reads as opening until the handshake is over; a server whose
// certificate fails the checks ends the link (linkLost with the reason).
class PCom_TlsSettings : public QObject
{
    Q_OBJECT
public:
    // False, with the reason, for a setting the port cannot use (a server
    // without a certificate or key); the earlier setting then stays.
    virtual bool setTls(const PCom_TlsConfig &config, QString *error) = 0;
    virtual PCom_TlsConfig tls() const = 0;

protected:
    explicit PCom_TlsSettings(QObject *parent = nullptr) : QObject(parent) {}
};
