#include "bench/SerialBench.h"

#include "bench/BenchLog.h"
#include "bench/FdEndpoint.h"
#include "bench/IoDeviceEndpoint.h"
#include "bench/PluginPorts.h"
#include "bench/PortEndpoint.h"
#include "host/Plugin_Com_Port.h"
#include "tests/support/PseudoTerminal.h"
#include "bench/StreamRun.h"

#include <QScopedPointer>
#include <QSerialPort>

namespace {
const int kChunk = 4096;
const qint64 kWindow = 64 * 1024;
const int kTimeoutMs = 120000;
const int kBaudRate = 115200;
}

SerialBench::SerialBench(const BenchConfig &config, PluginPorts &ports, BenchLog &log)
    : m_config(config), m_ports(ports), m_log(log)
{
}

QVector<BenchRow> SerialBench::run()
{
    BenchRow out;
    out.path = QStringLiteral("serial write port->pty, 4 KiB writes");
    out.unit = QStringLiteral("MiB/s");
    out.baselineName = QStringLiteral("QSerialPort");
    out.target = BenchRow::AtLeast;
    out.targetRatio = 0.97;

    BenchRow in = out;
    in.path = QStringLiteral("serial read pty->port");

    QStringList notes;
    PseudoTerminal rawPty;
    PseudoTerminal pluginPty;
    if (!rawPty.isValid() || !pluginPty.isValid()) {
        out.note = QStringLiteral("no pseudo-terminal");
        out.failed = true;
        return {out, in};
    }

    QSerialPort rawPort;
    rawPort.setPortName(rawPty.slavePath());
    rawPort.setBaudRate(kBaudRate);
    QScopedPointer<BenchEndpoint> rawLine;
    QScopedPointer<BenchEndpoint> rawMaster;
    if (rawPort.open(QIODevice::ReadWrite)) {
        rawLine.reset(new IoDeviceEndpoint(&rawPort));
        rawMaster.reset(new FdEndpoint(rawPty.masterFd()));
    } else {
        notes.append(QStringLiteral("raw: %1").arg(rawPort.errorString()));
    }

    Plugin_Com_Port *port = m_ports.create(QStringLiteral("com"), {{QStringLiteral("device"), pluginPty.slavePath()},
                                                                   {QStringLiteral("baudrate"), kBaudRate},
                                                                   {QStringLiteral("connect"), true}});
    QScopedPointer<BenchEndpoint> pluginLine;
    QScopedPointer<BenchEndpoint> pluginMaster;
    if (port && port->opened()) {
        pluginLine.reset(new PortEndpoint(port));
        pluginMaster.reset(new FdEndpoint(pluginPty.masterFd()));
    } else {
        notes.append(QStringLiteral("plug-in: the com port did not open"));
    }

    auto stream = [&](BenchEndpoint *from, BenchEndpoint *to, qint64 bytes, Samples *samples, const QString &who) {
        if (!from || !to)
            return;
        StreamRun run(from, to, kChunk, kWindow, false);
        const StreamRun::Result r = run.run(bytes, kTimeoutMs);
        if (!r.ok)
            notes.append(QStringLiteral("%1: %2").arg(who, r.error));
        else if (samples)
            samples->add(bytes / (1024.0 * 1024.0) / r.seconds);
    };

    const QString plugin = QStringLiteral("plug-in");
    const QString raw = QStringLiteral("raw");
    stream(pluginLine.data(), pluginMaster.data(), m_config.serialBytes / 8, nullptr, plugin);
    stream(rawLine.data(), rawMaster.data(), m_config.serialBytes / 8, nullptr, raw);
    stream(pluginMaster.data(), pluginLine.data(), m_config.serialBytes / 8, nullptr, plugin);
    stream(rawMaster.data(), rawLine.data(), m_config.serialBytes / 8, nullptr, raw);
    for (int rep = 0; rep < m_config.repetitions; ++rep) {
        const bool pluginFirst = rep % 2 == 0;
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == pluginFirst) {
                stream(pluginLine.data(), pluginMaster.data(), m_config.serialBytes, &out.plugin, plugin);
                stream(pluginMaster.data(), pluginLine.data(), m_config.serialBytes, &in.plugin, plugin);
            } else {
                stream(rawLine.data(), rawMaster.data(), m_config.serialBytes, &out.baseline, raw);
                stream(rawMaster.data(), rawLine.data(), m_config.serialBytes, &in.baseline, raw);
            }
        }
    }

    out.failed = !notes.isEmpty();
    const QStringList errors = m_log.takeErrors();
    if (!errors.isEmpty())
        notes.append(QStringLiteral("log: %1").arg(errors.last()));
    out.note = notes.join(QStringLiteral("; "));

    pluginLine.reset();
    pluginMaster.reset();
    m_ports.release(port);
    m_log.takeErrors();
    return {out, in};
}
