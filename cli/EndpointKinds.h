#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class Endpoint;
class PluginHost;
class PortHandle;

// The kinds of bridge side that are pcom's own ends rather than the
// plug-in's ports; each is set with NAME=VALUE words as a port is, and goes
// opposite a CAN port:
//   socketcand address=ADDR port=N [channel=NAME] [drop-slow=SECONDS]
//       the CAN port served to socketcand clients over TCP (FrameServer
//       with a SocketcandSession per client; channel can0 by default)
//   slcan device=PATH [com settings...]
//       the CAN port as an SLCAN adapter on a serial line, opened through
//       the plug-in's com port (its NAME=VALUE settings pass on), a
//       FrameLine with an SlcanSession
//   slcan address=ADDR port=N [drop-slow=SECONDS]
//       the same served over TCP, a session per client
// address is 127.0.0.1 unless given (any: every address).
class EndpointKinds
{
public:
    struct Kind {
        QString name;
        QString brief;
    };
    static QList<Kind> kinds();
    static bool isKind(const QString &word);

    // One side made of a kind: the end, what opens it (false, with the
    // reason printed, when it does not), and the port it runs on, if any.
    struct Side {
        std::unique_ptr<PortHandle> handle;
        std::unique_ptr<Endpoint> end;
        std::function<bool()> open;
        ~Side();
    };
    // From `words`: the kind, then its settings. False, with a bad-input
    // line, when a setting is wrong.
    static bool create(PluginHost &host, const QStringList &words, Side *side);
};
