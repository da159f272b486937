#pragma once

#include <QObject>
#include <QString>

// Datagrams that the network turned back, for hosts that want to know: the
// ICMP "port unreachable" (or another ICMP error) that answers a datagram
// sent to where nothing listens. A face of a datagram port's PCom_LinkStatus.
//
// The system tells an unconnected socket of such errors only when asked, so
// watching is off until a host switches it on. A refusal is then reported
// here and the port stays open, as it does for a host that does not watch:
// the next datagram may find the peer up.
class PCom_DatagramRefusals : public QObject
{
    Q_OBJECT
public:
    // Applies at once to an open port, else from its next open.
    virtual void setWatching(bool watching) = 0;
    virtual bool isWatching() const = 0;
    // Refusals since the last open.
    virtual qint64 refusals() const = 0;

signals:
    // A datagram sent to `destination` ("address:port", "[v6]:port") came
    // back refused, for `reason` (the system's text).
    void refused(const QString &destination, const QString &reason);

protected:
    explicit PCom_DatagramRefusals(QObject *parent = nullptr) : QObject(parent) {}
};
