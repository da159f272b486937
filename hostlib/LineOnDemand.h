#pragma once

#include <QObject>
#include <QSet>

#include <functional>

class PCom_ServedClients;
class PortLink;
struct PCom_ClientInfo;

// A line (the com side of a bridge) that is open only while the TCP server
// side has clients, as a serial device server opens its device on demand.
// It follows the server's served-clients face: the first client to join
// opens the line, the last to leave closes it (what the line read is handed
// on first, what the clients sent is written out first). A line that does
// not open is named to the client that came, one line, and that client is
// closed; the server goes on listening. A line lost while clients are there
// closes them with the reason and waits for the next client.
//
// Made once the server side's client policy is set up, so that a banner
// reaches a client before anything of the line; the line begins away.
class LineOnDemand : public QObject
{
    Q_OBJECT
public:
    // `open` opens the closed port of `line` and applies its settings.
    LineOnDemand(PortLink *served, PortLink *line, std::function<bool()> open, QObject *parent = nullptr);

    // How long what the clients sent may take to leave once the last left.
    static constexpr int flushMs = 2000;

private:
    void onJoined(const PCom_ClientInfo &client);
    void onLeft(const PCom_ClientInfo &client);
    void onLost(const QString &reason);
    bool openFor(const PCom_ClientInfo &client);
    QString name(const PCom_ClientInfo &client) const;

    PortLink *m_served;
    PortLink *m_line;
    std::function<bool()> m_open;
    PCom_ServedClients *m_clients;
    // The clients that the open line serves.
    QSet<int> m_using;
};
