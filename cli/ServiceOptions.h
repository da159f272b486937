#pragma once

#include "hostlib/ClientPolicy.h"
#include "hostlib/Reconnector.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CommandContext;
class PortHandle;
class PortLink;
class Plugin_Com_Port;

// The options of pcom open and pcom bridge for a link that serves clients
// or that has to stay up: the client policy, the allow-list and the slow
// client handling of a TCP server side, and --reconnect for a serial or TCP
// client side; --connect-timeout for a side that connects (a TCP client).
class ServiceOptions
{
public:
    // Adds the options to the command's parser; a bare --reconnect takes
    // its default pause.
    explicit ServiceOptions(CommandContext &context);

    // After parsing: false, with a bad-input line, for a value out of range.
    bool check(CommandContext &context);

    // Whether an option of the TCP server side or --reconnect was given,
    // and the first one's name, for messages.
    bool serverSet() const { return !m_serverOption.isEmpty(); }
    QString serverOption() const { return m_serverOption; }
    bool reconnectSet() const { return m_reconnectSeconds > 0; }
    double reconnectSeconds() const { return m_reconnectSeconds; }
    // A port with served clients; a port that can be opened again after
    // its peer went: a serial line or a connection to a server.
    static bool canServe(Plugin_Com_Port *port);
    static bool canReconnect(Plugin_Com_Port *port);
    // A port whose link is a connection that it makes (a TCP client).
    static bool canConnect(Plugin_Com_Port *port);

    // What is set up on one side of a run, for as long as its link lives:
    // a TCP server side always gets its client policy (whose statistics
    // name each client), a serial or TCP client side a reconnector with
    // --reconnect.
    struct Side {
        std::unique_ptr<ClientPolicy> policy;
        std::unique_ptr<Reconnector> reconnector;
        ~Side();
        void printStats() const;
    };
    // Before the port opens (and before its link starts); `reopen` opens
    // the closed port again. False,
    // with the reason printed, when a server port refuses the policy.
    bool setUp(PortHandle &handle, PortLink *link, std::function<bool()> reopen, Side *side) const;
    // Bad input when an option was given that none of the ports takes.
    bool fits(const QList<Plugin_Com_Port *> &ports) const;

    static constexpr int defaultReconnectSeconds = 5;

private:
    QCommandLineOption m_clients;
    QCommandLineOption m_allow;
    QCommandLineOption m_waitSlow;
    QCommandLineOption m_dropSlow;
    QCommandLineOption m_banner;
    QCommandLineOption m_idleTimeout;
    QCommandLineOption m_reconnect;
    QCommandLineOption m_connectTimeout;
    ClientPolicy::Options m_policy;
    QString m_serverOption;
    double m_reconnectSeconds = 0;
    double m_connectSeconds = 0;
};
