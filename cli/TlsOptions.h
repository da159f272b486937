#pragma once

#include "core/PCom_TlsSettings.h"

#include <QCommandLineOption>
#include <QList>

class CommandContext;
class Plugin_Com_Port;
struct MqttSettings;

// The TLS options of pcom open and pcom bridge (and so of pcom serve's
// bridges), shared by every side that crosses a network. A TCP server side
// serves TLS with --tls-cert and --tls-key and, with --tls-client-ca,
// accepts only clients whose certificate that CA signed. A TCP client side
// speaks TLS with --tls-ca, --tls-name or --tls-insecure-no-verify, and
// shows --tls-cert to a server that asks for a certificate.
class TlsOptions
{
public:
    // Adds the options to the command's parser.
    explicit TlsOptions(CommandContext &context);

    // After parsing: reads the files; false, with a bad-input line, for a
    // file that holds no certificate or key, or options that do not go
    // together.
    bool check(const CommandContext &context);
    // Bad input when an option was given that none of the ports takes.
    bool fits(const QList<Plugin_Com_Port *> &ports) const;
    // Before the port opens: its part of the options to its TLS face; false,
    // with a bad-input line, where the port refuses them.
    bool apply(Plugin_Com_Port *port) const;
    // The file names of --tls-ca, --tls-cert and --tls-key for the mqtt
    // side, whose broker connection loads them itself.
    void brokerFiles(const CommandContext &context, MqttSettings *settings) const;

private:
    bool clientSet() const { return m_client.enabled; }

    QCommandLineOption m_cert;
    QCommandLineOption m_key;
    QCommandLineOption m_clientCa;
    QCommandLineOption m_ca;
    QCommandLineOption m_name;
    QCommandLineOption m_insecure;
    // What a server side and a client side get.
    PCom_TlsConfig m_server;
    PCom_TlsConfig m_client;
};
