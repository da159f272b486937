#include "bench/UdpBench.h"

#include "bench/BenchLog.h"
#include "bench/DatagramRun.h"
#include "bench/PluginPorts.h"
#include "bench/PortEndpoint.h"
#include "host/Plugin_Com_Port.h"
#include "bench/UdpSocketEndpoint.h"

#include <QScopedPointer>
#include <QUdpSocket>

namespace {
const int kDatagram = 1024;
// Datagrams in flight: well inside the default receive buffer of a socket.
const int kWindow = 64;
const int kTimeoutMs = 120000;

// A loopback port that is free now: the ports take their local port from a
// property, and a port number cannot be read back from them.
quint16 freeUdpPort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress(QHostAddress::LocalHost), 0))
        return 0;
    return probe.localPort();
}

QList<QPair<QString, QVariant>> endpointProperties(quint16 bindPort, quint16 peerPort)
{
    return {{QStringLiteral("bind-address"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("bind-port"), bindPort},
            {QStringLiteral("address"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("port"), peerPort},
            {QStringLiteral("connect"), true}};
}
}

UdpBench::UdpBench(const BenchConfig &config, PluginPorts &ports, BenchLog &log)
    : m_config(config), m_ports(ports), m_log(log)
{
}

QVector<BenchRow> UdpBench::run()
{
    BenchRow rate;
    rate.path = QStringLiteral("udp 1 KiB datagrams a->b");
    rate.unit = QStringLiteral("dgram/s");
    rate.baselineName = QStringLiteral("QUdpSocket");
    rate.target = BenchRow::AtLeast;
    rate.targetRatio = 0.97;

    BenchRow throughput = rate;
    throughput.path = QStringLiteral("udp 1 KiB datagrams, payload");
    throughput.unit = QStringLiteral("MiB/s");

    BenchRow lost;
    lost.path = QStringLiteral("udp datagrams lost per run");
    lost.unit = QStringLiteral("dgrams");
    lost.baselineName = QStringLiteral("QUdpSocket");

    QStringList notes;

    // Raw pair.
    QUdpSocket rawA;
    QUdpSocket rawB;
    QScopedPointer<BenchEndpoint> rawFrom;
    QScopedPointer<BenchEndpoint> rawTo;
    if (rawA.bind(QHostAddress(QHostAddress::LocalHost), 0) && rawB.bind(QHostAddress(QHostAddress::LocalHost), 0)) {
        rawFrom.reset(new UdpSocketEndpoint(&rawA, QHostAddress::LocalHost, rawB.localPort()));
        rawTo.reset(new UdpSocketEndpoint(&rawB, QHostAddress::LocalHost, rawA.localPort()));
        if (!BenchEndpoint::handshake(rawFrom.data(), rawTo.data())) {
            notes.append(QStringLiteral("raw: the pair carries no datagrams"));
            rate.failed = true;
            rawFrom.reset();
        }
    } else {
        notes.append(QStringLiteral("raw: bind failed"));
        rate.failed = true;
    }

    // Plug-in pair.
    Plugin_Com_Port *portA = nullptr;
    Plugin_Com_Port *portB = nullptr;
    QScopedPointer<BenchEndpoint> pluginFrom;
    QScopedPointer<BenchEndpoint> pluginTo;
    if (!m_ports.device(QStringLiteral("udpClient"))) {
        notes.append(QStringLiteral("plug-in: udpClient not built"));
    } else {
        const quint16 portNumberA = freeUdpPort();
        const quint16 portNumberB = freeUdpPort();
        portB = m_ports.create(QStringLiteral("udpClient"), endpointProperties(portNumberB, portNumberA));
        portA = m_ports.create(QStringLiteral("udpClient"), endpointProperties(portNumberA, portNumberB));
        if (portA->opened() && portB->opened()) {
            pluginFrom.reset(new PortEndpoint(portA));
            pluginTo.reset(new PortEndpoint(portB));
            if (!BenchEndpoint::handshake(pluginFrom.data(), pluginTo.data())) {
                notes.append(QStringLiteral("plug-in: the pair carries no datagrams"));
                rate.failed = true;
                pluginFrom.reset();
            }
        } else {
            notes.append(QStringLiteral("plug-in: a port did not bind"));
            rate.failed = true;
        }
    }

    QString pluginLost;
    QString rawLost;
    auto measure = [&](BenchEndpoint *from, BenchEndpoint *to, int count, bool isPlugin, bool timed) {
        if (!from)
            return;
        DatagramRun run(from, to, kDatagram, kWindow);
        const DatagramRun::Result r = run.run(count, kTimeoutMs);
        if (!r.ok) {
            notes.append(QStringLiteral("%1: %2").arg(isPlugin ? QStringLiteral("plug-in") : QStringLiteral("raw"),
                                                      r.error));
            rate.failed = true;
            return;
        }
        if (!timed)
            return;
        (isPlugin ? rate.plugin : rate.baseline).add(r.received / r.seconds);
        (isPlugin ? throughput.plugin : throughput.baseline).add(r.received * double(kDatagram) / (1 << 20) / r.seconds);
        (isPlugin ? lost.plugin : lost.baseline).add(r.lost);
        // The sequence numbers of the first run that lost any; the others
        // are in the figures.
        QString &text = isPlugin ? pluginLost : rawLost;
        if (r.lost > 0 && text.isEmpty())
            text = QStringLiteral("numbers %1 in a run of %2").arg(r.lostRanges).arg(count);
    };

    // Untimed warm-up.
    measure(pluginFrom.data(), pluginTo.data(), m_config.udpDatagrams / 10, true, false);
    measure(rawFrom.data(), rawTo.data(), m_config.udpDatagrams / 10, false, false);
    for (int rep = 0; rep < m_config.repetitions; ++rep) {
        const bool pluginFirst = rep % 2 == 0;
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == pluginFirst)
                measure(pluginFrom.data(), pluginTo.data(), m_config.udpDatagrams, true, true);
            else
                measure(rawFrom.data(), rawTo.data(), m_config.udpDatagrams, false, true);
        }
    }

    QStringList lostNotes;
    lostNotes.append(QStringLiteral("window %1 datagrams; plug-in lost %2").arg(kWindow).arg(
        pluginLost.isEmpty() ? QStringLiteral("none") : pluginLost));
    lostNotes.append(QStringLiteral("raw lost %1").arg(rawLost.isEmpty() ? QStringLiteral("none") : rawLost));
    lost.note = lostNotes.join(QStringLiteral("; "));

    const QStringList errors = m_log.takeErrors();
    if (!errors.isEmpty())
        notes.append(QStringLiteral("log: %1").arg(errors.last()));
    rate.note = notes.join(QStringLiteral("; "));

    pluginFrom.reset();
    pluginTo.reset();
    m_ports.release(portA);
    m_ports.release(portB);
    m_log.takeErrors();
    return {rate, throughput, lost};
}
