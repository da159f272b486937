#include "bench/CanBench.h"

#include "bench/BenchLog.h"
#include "bench/CanDeviceEndpoint.h"
#include "tests/support/EventWait.h"
#include "bench/PluginPorts.h"
#include "bench/PortEndpoint.h"
#include "host/Plugin_Com_Port.h"
#include "bench/StreamRun.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QScopedPointer>
#include <QTcpServer>

namespace {
const int kPayload = 8;
// Frames in flight between the sender's write and the receiver's read.
const qint64 kWindow = 256;
const int kTimeoutMs = 120000;

// virtualcan starts its relay, once per process, on the port named by the
// first interface opened; every device of this run names that same port.
quint16 relayPort()
{
    static quint16 port = 0;
    if (port == 0) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, 0))
            port = probe.serverPort();
    }
    return port;
}
}

CanBench::CanBench(const BenchConfig &config, PluginPorts &ports, BenchLog &log)
    : m_config(config), m_ports(ports), m_log(log),
      m_interface(QStringLiteral("tcp://127.0.0.1:%1/can0").arg(relayPort()))
{
}

QVector<BenchRow> CanBench::run()
{
    BenchRow rate;
    rate.path = QStringLiteral("can 8-byte frames a->b, virtualcan");
    rate.unit = QStringLiteral("frames/s");
    rate.baselineName = QStringLiteral("QCanBusDevice");
    rate.target = BenchRow::AtLeast;
    rate.targetRatio = 0.97;

    if (!QCanBus::instance()->plugins().contains(QStringLiteral("virtualcan"))) {
        rate.note = QStringLiteral("Qt's virtualcan back-end is not installed");
        rate.failed = true;
        return {rate};
    }

    QStringList notes;
    QString pluginError;
    QString rawError;
    runPlugin(m_config.canFrames / 10, nullptr, &pluginError);
    runRaw(m_config.canFrames / 10, nullptr, &rawError);
    for (int rep = 0; rep < m_config.repetitions; ++rep) {
        const bool pluginFirst = rep % 2 == 0;
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == pluginFirst)
                runPlugin(m_config.canFrames, &rate.plugin, &pluginError);
            else
                runRaw(m_config.canFrames, &rate.baseline, &rawError);
        }
    }
    rate.failed = !pluginError.isEmpty() || !rawError.isEmpty();
    if (!pluginError.isEmpty())
        notes.append(QStringLiteral("plug-in: %1").arg(pluginError));
    if (!rawError.isEmpty())
        notes.append(QStringLiteral("raw: %1").arg(rawError));
    const QStringList errors = m_log.takeErrors();
    if (!errors.isEmpty())
        notes.append(QStringLiteral("log: %1").arg(errors.last()));
    rate.note = notes.join(QStringLiteral("; "));
    return {rate};
}

bool CanBench::runPlugin(int frames, Samples *samples, QString *error)
{
    const QList<QPair<QString, QVariant>> properties{{QStringLiteral("interface"), QStringLiteral("virtualcan")},
                                                     {QStringLiteral("device"), m_interface},
                                                     {QStringLiteral("connect"), true}};
    Plugin_Com_Port *a = m_ports.create(QStringLiteral("canBus"), properties);
    Plugin_Com_Port *b = m_ports.create(QStringLiteral("canBus"), properties);
    bool ok = false;
    if (a && b && a->opened() && b->opened()) {
        PortEndpoint from(a);
        PortEndpoint to(b);
        ok = measure(&from, &to, frames, samples, error);
    } else {
        *error = QStringLiteral("the canBus ports did not open");
    }
    m_ports.release(a);
    m_ports.release(b);
    return ok;
}

bool CanBench::runRaw(int frames, Samples *samples, QString *error)
{
    QString createError;
    QScopedPointer<QCanBusDevice> a(
        QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), m_interface, &createError));
    QScopedPointer<QCanBusDevice> b(
        QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), m_interface, &createError));
    if (!a || !b || !a->connectDevice() || !b->connectDevice()) {
        *error = createError.isEmpty() ? QStringLiteral("the raw devices did not connect") : createError;
        return false;
    }
    bool ok = false;
    if (EventWait::until([&] { return a->state() == QCanBusDevice::ConnectedState
                                      && b->state() == QCanBusDevice::ConnectedState; },
                         5000)) {
        CanDeviceEndpoint from(a.data());
        CanDeviceEndpoint to(b.data());
        ok = measure(&from, &to, frames, samples, error);
    } else {
        *error = QStringLiteral("the raw devices did not reach the connected state");
    }
    a->disconnectDevice();
    b->disconnectDevice();
    return ok;
}

bool CanBench::measure(BenchEndpoint *from, BenchEndpoint *to, int frames, Samples *samples, QString *error)
{
    if (!waitForBus(from, to)) {
        *error = QStringLiteral("no frame crossed the bus");
        return false;
    }
    // Probes written before the back-end had connected were refused and
    // logged; that is the start-up, not the measurement.
    m_log.takeErrors();
    StreamRun run(from, to, kPayload, kWindow, true);
    const StreamRun::Result r = run.run(frames, kTimeoutMs);
    if (!r.ok) {
        *error = r.error;
        return false;
    }
    if (samples)
        samples->add(frames / r.seconds);
    return true;
}

// virtualcan connects in the background and its relay drops frames for a
// receiver it has not registered yet. Numbered one-byte probes go out until
// the receiver has read the last one sent: then both are on the bus and no
// probe is left in flight.
bool CanBench::waitForBus(BenchEndpoint *from, BenchEndpoint *to)
{
    int lastSent = -1;
    int lastRead = -2;
    char buffer[64];
    for (char probe = 0; probe < 100; ++probe) {
        if (from->write(&probe, 1) == 1)
            lastSent = probe;
        EventWait::until([&] {
            qint64 count;
            while ((count = to->read(buffer, sizeof buffer)) >= 0) {
                if (count == 1)
                    lastRead = buffer[0];
            }
            return lastRead == lastSent;
        }, 50);
        if (lastRead == lastSent)
            return true;
    }
    return false;
}
