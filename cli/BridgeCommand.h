#pragma once

#include "cli/CommandContext.h"
#include "cli/EndpointKinds.h"
#include "cli/ServiceOptions.h"

#include <QStringList>

#include <memory>

class Bridge;
class LineOnDemand;
class PluginHost;
class Plugin_Com_Port;
class PortHandle;
class PortLink;
class Rfc2217Server;
class SerialOptions;
class TlsOptions;

// pcom bridge TYPE [NAME=VALUE ...] -- TYPE [NAME=VALUE ...]: opens two
// ports and relays between them in both directions (see Bridge).
//
// In steps, so that one process can hold several bridges (pcom serve) and
// check all of them before it opens any: parse() reads and checks the
// command line, prepare() creates and configures both ports without opening
// them, open() opens them; then the Bridge runs, or is started and says
// when it finished. Bad input is reported through CommandContext::badInput.
class BridgeCommand
{
public:
    BridgeCommand();
    ~BridgeCommand();

    // `arguments`: the program name, the command word, the rest.
    static int run(const QStringList &arguments);

    bool parse(const QStringList &arguments);
    bool prepare(PluginHost &host);
    // Opens both sides (the serial settings applied to a com side); false,
    // with the reason printed and nothing left open, when one did not open.
    bool open();
    Bridge *bridge() const { return m_bridge.get(); }
    // With --reconnect, the longest pause between tries to open it again.
    double reconnectSeconds() const { return m_service.reconnectSeconds(); }

private:
    bool prepareOwnEnd(PluginHost &host);
    QStringList portSettings(Plugin_Com_Port *port, const QStringList &words) const;

    CommandContext m_context;
    QCommandLineOption m_stats;
    QCommandLineOption m_hold;
    QCommandLineOption m_rfc2217;
    QCommandLineOption m_onDemandOption;
    QCommandLineOption m_timeout;
    QCommandLineOption m_canPlugin;
    std::unique_ptr<SerialOptions> m_serial;
    std::unique_ptr<TlsOptions> m_tls;
    std::unique_ptr<EndpointKinds> m_kinds;
    ServiceOptions m_service{m_context};
    double m_statsSeconds = 0;
    double m_timeoutSeconds = 0;
    qint64 m_holdBytes = 0;
    QStringList m_firstWords;
    QStringList m_secondWords;
    QString m_firstLabel;
    QString m_secondLabel;
    // Released in reverse: the bridge and the links before the ports.
    std::unique_ptr<PortHandle> m_firstHandle;
    std::unique_ptr<PortHandle> m_secondHandle;
    std::unique_ptr<PortLink> m_firstLink;
    std::unique_ptr<PortLink> m_secondLink;
    // A side that is an end of pcom's own (EndpointKinds): the port
    // opposite has the handle and link of its side, the other side's stay
    // empty.
    std::unique_ptr<EndpointKinds::Side> m_own;
    std::unique_ptr<Bridge> m_bridge;
    std::unique_ptr<Rfc2217Server> m_rfc2217Server;
    // With --on-demand: the com side's handle, opened by m_onDemand only.
    PortHandle *m_demandHandle = nullptr;
    // Client policies and reconnectors, released first: they act on the links.
    ServiceOptions::Side m_firstSide;
    ServiceOptions::Side m_secondSide;
    std::unique_ptr<LineOnDemand> m_onDemand;
};
