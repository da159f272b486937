#include "bench/TcpBench.h"

#include "bench/BenchLog.h"
#include "tests/support/EventWait.h"
#include "bench/IoDeviceEndpoint.h"
#include "tcpserver/PCom_TcpServer_Port.h"
#include "bench/PingPong.h"
#include "bench/PluginPorts.h"
#include "bench/PortEndpoint.h"
#include "bench/PosixStream.h"
#include "bench/StreamRun.h"

#include <QScopedPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
const int kChunk = 64 * 1024;
// What the sender may have written beyond what the receiver has read.
const qint64 kWindow = 4 * 1024 * 1024;
const int kTimeoutMs = 120000;

double mibPerSecond(qint64 bytes, double seconds)
{
    return bytes / (1024.0 * 1024.0) / seconds;
}

// Client to server through the plug-in, or through raw Qt sockets: either
// way a sending and a receiving endpoint, ready to carry bytes.
struct Pair
{
    QScopedPointer<BenchEndpoint> client;
    QScopedPointer<BenchEndpoint> server;
    QString error;
    bool ok() const { return client && server; }
};
}

TcpBench::TcpBench(const BenchConfig &config, PluginPorts &ports, BenchLog &log)
    : m_config(config), m_ports(ports), m_log(log)
{
}

QVector<BenchRow> TcpBench::run()
{
    BenchRow throughput;
    throughput.path = QStringLiteral("tcp stream client->server, 64 KiB writes");
    throughput.unit = QStringLiteral("MiB/s");
    throughput.baselineName = QStringLiteral("QTcpSocket");
    throughput.target = BenchRow::AtLeast;
    throughput.targetRatio = 0.97;

    BenchRow kernel = throughput;
    kernel.path = QStringLiteral("tcp stream vs kernel loopback");
    kernel.baselineName = QStringLiteral("POSIX");
    kernel.target = BenchRow::NoTarget;

    BenchRow latency;
    latency.path = QStringLiteral("tcp round trip, 1 byte");
    latency.unit = QStringLiteral("us");
    latency.baselineName = QStringLiteral("QTcpSocket");
    latency.target = BenchRow::AtMost;
    latency.targetRatio = 1.05;

    // Raw pair: a QTcpServer and a connecting QTcpSocket.
    QTcpServer rawServer;
    QTcpSocket rawClient;
    QTcpSocket *rawAccepted = nullptr;
    Pair raw;
    if (rawServer.listen(QHostAddress::LocalHost, 0)) {
        rawClient.connectToHost(QHostAddress::LocalHost, rawServer.serverPort());
        if (EventWait::until([&] { return rawServer.hasPendingConnections(); }, 5000)) {
            rawAccepted = rawServer.nextPendingConnection();
            raw.client.reset(new IoDeviceEndpoint(&rawClient));
            raw.server.reset(new IoDeviceEndpoint(rawAccepted));
            if (!BenchEndpoint::handshake(raw.client.data(), raw.server.data())
                || !BenchEndpoint::handshake(raw.server.data(), raw.client.data())) {
                raw.error = QStringLiteral("the raw pair carries no bytes");
            }
        } else {
            raw.error = QStringLiteral("the raw client did not connect");
        }
    } else {
        raw.error = rawServer.errorString();
    }

    // Plug-in pair: a tcpClient port connected to a tcpServer port.
    Pair plugin;
    Plugin_Com_Port *serverPort = m_ports.create(QStringLiteral("tcpServer"),
                                                 {{QStringLiteral("address"), QStringLiteral("127.0.0.1")},
                                                  {QStringLiteral("port"), 0},
                                                  {QStringLiteral("connect"), true}});
    Plugin_Com_Port *clientPort = nullptr;
    if (!serverPort || !serverPort->opened()) {
        plugin.error = QStringLiteral("the tcpServer port did not listen");
    } else {
        const quint16 port = static_cast<PCom_TcpServer_Port *>(serverPort)->tcpServer()->serverPort();
        clientPort = m_ports.create(QStringLiteral("tcpClient"),
                                    {{QStringLiteral("address"), QStringLiteral("127.0.0.1")},
                                     {QStringLiteral("port"), port},
                                     {QStringLiteral("connect"), true}});
        if (!clientPort) {
            plugin.error = QStringLiteral("tcpClient not built");
        } else {
            plugin.client.reset(new PortEndpoint(clientPort));
            plugin.server.reset(new PortEndpoint(serverPort));
            if (!BenchEndpoint::handshake(plugin.client.data(), plugin.server.data())
                || !BenchEndpoint::handshake(plugin.server.data(), plugin.client.data())) {
                plugin.error = QStringLiteral("the plug-in pair carries no bytes");
            }
        }
    }
    if (!plugin.error.isEmpty())
        plugin.client.reset();
    if (!raw.error.isEmpty())
        raw.client.reset();

    auto stream = [&](Pair &pair, qint64 bytes, Samples *samples, QString *note) {
        if (!pair.ok())
            return;
        StreamRun run(pair.client.data(), pair.server.data(), kChunk, kWindow, false);
        const StreamRun::Result r = run.run(bytes, kTimeoutMs);
        if (r.ok && samples)
            samples->add(mibPerSecond(bytes, r.seconds));
        else if (!r.ok)
            *note = r.error;
    };
    auto pingPong = [&](Pair &pair, int rounds, Samples *samples, QString *note) {
        if (!pair.ok())
            return;
        PingPong run(pair.client.data(), pair.server.data());
        const PingPong::Result r = run.run(rounds, kTimeoutMs);
        if (r.ok && samples)
            samples->add(r.microsecondsPerRound);
        else if (!r.ok)
            *note = r.error;
    };

    QString pluginNote;
    QString rawNote;
    // Warm both connections up (buffers grown, code paged in) untimed.
    stream(plugin, m_config.tcpBytes / 8, nullptr, &pluginNote);
    stream(raw, m_config.tcpBytes / 8, nullptr, &rawNote);
    pingPong(plugin, m_config.tcpRounds / 10, nullptr, &pluginNote);
    pingPong(raw, m_config.tcpRounds / 10, nullptr, &rawNote);

    for (int rep = 0; rep < m_config.repetitions; ++rep) {
        // Alternate who goes first, so that a drift in machine load does not
        // always land on the same side.
        const bool pluginFirst = rep % 2 == 0;
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == pluginFirst)
                stream(plugin, m_config.tcpBytes, &throughput.plugin, &pluginNote);
            else
                stream(raw, m_config.tcpBytes, &throughput.baseline, &rawNote);
        }
        const PosixStream::Result posix = PosixStream::run(m_config.tcpBytes, kChunk);
        if (posix.ok) {
            kernel.baseline.add(mibPerSecond(m_config.tcpBytes, posix.seconds));
        } else {
            kernel.note = posix.error;
            kernel.failed = true;
        }
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == pluginFirst)
                pingPong(plugin, m_config.tcpRounds, &latency.plugin, &pluginNote);
            else
                pingPong(raw, m_config.tcpRounds, &latency.baseline, &rawNote);
        }
    }
    kernel.plugin = throughput.plugin;

    QStringList notes;
    if (!plugin.error.isEmpty())
        notes.append(QStringLiteral("plug-in: %1").arg(plugin.error));
    if (!pluginNote.isEmpty())
        notes.append(QStringLiteral("plug-in: %1").arg(pluginNote));
    if (!raw.error.isEmpty())
        notes.append(QStringLiteral("raw: %1").arg(raw.error));
    if (!rawNote.isEmpty())
        notes.append(QStringLiteral("raw: %1").arg(rawNote));
    const QStringList errors = m_log.takeErrors();
    if (!errors.isEmpty())
        notes.append(QStringLiteral("log: %1").arg(errors.last()));
    throughput.note = notes.join(QStringLiteral("; "));
    throughput.failed = (!plugin.error.isEmpty() && clientPort) || (!serverPort || !serverPort->opened())
                        || !pluginNote.isEmpty() || !raw.error.isEmpty() || !rawNote.isEmpty();
    latency.failed = throughput.failed;

    plugin.client.reset();
    plugin.server.reset();
    m_ports.release(clientPort);
    m_ports.release(serverPort);
    m_log.takeErrors();
    return {throughput, kernel, latency};
}
