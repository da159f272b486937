#pragma once

#include "core/PCom_LinkStatus.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

// One accepted client of a served link, as a host of ours sees it.
struct PCom_ClientInfo {
    int id = 0;          // counted from 1 per port, in order of acceptance
    QString peer;        // "address:port", "[v6]:port"
    QString address;     // the peer's address, IPv4-mapped ones as IPv4
    qint64 bytesWritten = 0;
    qint64 bytesRead = 0;
    qint64 backlog = 0;  // bytes that wait for it
    // How it left: PeerClosed where the client ended the connection in order.
    PCom_LinkStatus::LossKind loss = PCom_LinkStatus::LossKind::None;
};
Q_DECLARE_METATYPE(PCom_ClientInfo)

// The clients of a TCP server port, a face of its PCom_LinkStatus. By
// default the server pauses accepting at each new client and resumes when
// one leaves; writes of the framework go to every client.
class PCom_ServedClients : public QObject
{
    Q_OBJECT
public:
    virtual QVector<PCom_ClientInfo> clients() const = 0;
    virtual int clientCount() const = 0;
    // The framework's read (one client per call: the first, in order of
    // acceptance, that holds bytes) that also says whose bytes they are, for
    // a host that keeps protocol state per client. -1 when nothing waits.
    virtual int readClientBytes(char *data, int maxSize, int *id) = 0;
    // Bytes for one client only (a notice before it is closed, say).
    virtual bool writeToClient(int id, const QByteArray &data) = 0;
    // Closes one client: once what waits for it has left (flush), or at
    // once. It takes no more writes from then on.
    virtual bool closeClient(int id, bool flush) = 0;
    // The peers that may connect, as ADDR[/PREFIX] (IPv4 or IPv6); empty:
    // everyone. Any other client is closed at once, before it is taken
    // over. False, the list unchanged, when an entry is no address.
    virtual bool setAllowList(const QStringList &subnets) = 0;
    // Whether the server goes on accepting while it has a client (a host
    // that handles several clients, or turns them away, asks for every one).
    virtual void setKeepAccepting(bool keep) = 0;
    // The port that the server listens on (the one the system chose for
    // port 0), 0 while it does not listen.
    virtual quint16 listeningPort() const = 0;

    // Why a peer was turned away before it joined.
    enum class Refusal {
        NotAllowed,  // off the allow-list
        Tls,         // a failed TLS handshake: no certificate or a foreign one, a bad record, a timeout
    };
    Q_ENUM(Refusal)

signals:
    void clientJoined(const PCom_ClientInfo &client);
    void clientLeft(const PCom_ClientInfo &client);
    void clientRefused(const QString &peer, PCom_ServedClients::Refusal why, const QString &reason);

protected:
    explicit PCom_ServedClients(QObject *parent = nullptr) : QObject(parent) {}
};
