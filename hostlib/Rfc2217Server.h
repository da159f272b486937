#pragma once

#include "hostlib/Rfc2217Clients.h"
#include "hostlib/StreamFilter.h"

#include <QObject>
#include <QTimer>

class PCom_ServedClients;
class PortLink;
struct PCom_ClientInfo;

// A serial port served to RFC 2217 clients through a TCP server port, as the
// stream filter of the server's side of a bridge (see Rfc2217Session for the
// protocol). Each client has a session of its own, from its clientJoined to
// its clientLeft: the side's reader hands over one client's bytes at a time
// (PortReader::client()), they are parsed in that client's session, and the
// answers go to that client alone. The line's data goes to every client.
// The line and modem states are looked at (every pollMs) while some client
// has taken the COM port option with a mask that lets state through, and
// each client is told what its own masks let through.
//
// Flow control: the line's data is the same for every client, so a client's
// FLOWCONTROL-SUSPEND holds the line's reader (apart from the bridge's own
// back-pressure) until every client that suspended has resumed or left; the
// line's own flow control then holds its sender back.
class Rfc2217Server : public QObject, public StreamFilter
{
    Q_OBJECT
public:
    // `network`: the TCP server side, `serial`: the com side.
    Rfc2217Server(PortLink *network, PortLink *serial, QObject *parent = nullptr);

    QByteArray decode(const char *data, int size) override;
    QByteArray encode(const char *data, int size) override;

    // How often the line and modem states are looked at.
    static constexpr int pollMs = 100;

private:
    void onJoined(const PCom_ClientInfo &client);
    void onLeft(const PCom_ClientInfo &client);
    void poll();
    void send(int client, const QByteArray &bytes);
    void followSuspension();
    void followPolling();

    PortLink *m_network;
    PortLink *m_serial;
    PCom_ServedClients *m_served;
    Rfc2217Clients m_clients;
    QTimer m_poll;
};
