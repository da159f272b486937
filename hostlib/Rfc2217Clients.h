#pragma once

#include "hostlib/Rfc2217Session.h"

#include <QByteArray>
#include <QList>
#include <QPair>

#include <map>

class PCom_SerialLine;

// Every client of one served line, each with a session of its own (its
// parser, its negotiation, its masks and its suspension), as every Telnet
// connection is a protocol of its own: a client that stops in the middle of
// a command holds up nobody else. What any client sets, it sets on the one
// line; its answers and notices are its own.
class Rfc2217Clients
{
public:
    explicit Rfc2217Clients(PCom_SerialLine *line) : m_line(line) {}

    // A client came: returns our offers for it.
    QByteArray join(int client);
    void leave(int client);
    // As Rfc2217Session::takeFromClient, for one client; one not seen
    // joining joins now, its offers first among its replies.
    QByteArray takeFromClient(int client, const char *data, int size, QByteArray *replies);
    // The notices due to each client that has some, in order of the ids.
    QList<QPair<int, QByteArray>> notices(bool transmitterEmpty);
    // Some client asked us to hold data back: the line's data goes to every
    // client alike, so the line waits for the last one to resume.
    bool isSuspended() const;
    // Some client wants line or modem state notices.
    bool wantsNotices() const;

private:
    PCom_SerialLine *m_line;
    std::map<int, Rfc2217Session> m_sessions;
};
