#pragma once

#include "hostlib/MqttSettings.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CommandContext;
class Endpoint;
class PluginHost;
class PortHandle;
class PortLink;
class TlsOptions;

// The kinds of bridge side that are pcom's own ends rather than the
// plug-in's ports; each is set with NAME=VALUE words as a port is, and goes
// opposite a port of the plug-in:
//   socketcand address=ADDR port=N [channel=NAME] [drop-slow=SECONDS]
//       the CAN port served to socketcand clients over TCP (FrameServer
//       with a SocketcandSession per client; channel can0 by default)
//   slcan device=PATH [com settings...]
//       the CAN port as an SLCAN adapter on a serial line, opened through
//       the plug-in's com port (its NAME=VALUE settings pass on), a
//       FrameLine with an SlcanSession
//   slcan address=ADDR port=N [drop-slow=SECONDS]
//       the same served over TCP, a session per client
//   mqtt broker=HOST[:PORT] topic=PREFIX ... (see MqttSettings)
//       any port on an MQTT broker (MqttEndpoint); the login comes from
//       --mqtt-password-file, never from the command line, the TLS files
//       from the command's --tls-ca, --tls-cert and --tls-key
// address is 127.0.0.1 unless given (any: every address).
class EndpointKinds
{
public:
    // Adds the kinds' own options to the command's parser.
    explicit EndpointKinds(CommandContext &context);

    struct Kind {
        QString name;
        QString brief;
        // The NAME=VALUE words with their choices, where pcom devices lists them.
        QString settings;
    };
    static QList<Kind> kinds();
    static bool isKind(const QString &word);
    // Whether the kind serves a CAN bus only (socketcand, slcan).
    static bool needsFrames(const QString &kind);

    // After parsing, for a side of `kind`: false, with a bad-input line, for
    // an unreadable file or TLS files that do not go together.
    bool check(const CommandContext &context, const TlsOptions &tls, const QString &kind);

    // One side made of a kind: the end, what opens it (false, with the
    // reason printed, when it does not), and the port it runs on, if any.
    struct Side {
        std::unique_ptr<PortHandle> handle;
        std::unique_ptr<Endpoint> end;
        std::function<bool()> open;
        ~Side();
    };
    // From `words`: the kind, then its settings; the end goes opposite
    // `link`. False, with a bad-input line, when a setting is wrong or the
    // kind does not fit that link.
    bool create(PluginHost &host, const QStringList &words, PortLink *link, Side *side) const;

private:
    QCommandLineOption m_passwordFile;
    // The mqtt side's login and TLS files, from check().
    MqttSettings m_mqtt;
};
