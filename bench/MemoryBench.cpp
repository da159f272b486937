#include "bench/MemoryBench.h"

#include "bench/PluginPorts.h"
#include "tests/support/ProcStats.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"

#include <QCanBus>
#include <QMap>
#include <QCanBusDevice>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <cstdio>
#include <functional>
#include <malloc.h>
#include <unistd.h>
#include <vector>

namespace {
// Every new serial port lists the machine's serial ports through udev; a
// thousand of them take over a minute on a loaded machine.
const int kProbeTimeoutMs = 240000;

// The raw Qt object that a port of each kind wraps, unopened, and its name.
struct RawKind {
    QString name;
    std::function<QObject *()> make;
};

RawKind rawKind(const QString &typeKey)
{
    static const QMap<QString, RawKind> kinds{
        {QStringLiteral("com"), {QStringLiteral("QSerialPort"), [] { return new QSerialPort; }}},
        {QStringLiteral("canBus"),
         {QStringLiteral("QCanBusDevice"),
          [] {
              return QCanBus::instance()->createDevice(QStringLiteral("virtualcan"),
                                                       QStringLiteral("tcp://127.0.0.1:1/can0"));
          }}},
        {QStringLiteral("tcpServer"), {QStringLiteral("QTcpServer"), [] { return new QTcpServer; }}},
        {QStringLiteral("tcpClient"), {QStringLiteral("QTcpSocket"), [] { return new QTcpSocket; }}},
        {QStringLiteral("udpClient"), {QStringLiteral("QUdpSocket"), [] { return new QUdpSocket; }}},
    };
    return kinds.value(typeKey);
}
}

MemoryBench::MemoryBench(const BenchConfig &config) : m_config(config)
{
}

int MemoryBench::probe(const QString &request)
{
    const QStringList parts = request.split(QLatin1Char(':'));
    if (parts.size() != 3) {
        std::printf("error: bad probe %s\n", qPrintable(request));
        return 2;
    }
    const QString typeKey = parts[0];
    const bool plugin = parts[1] == QLatin1String("plugin");
    const int count = parts[2].toInt();

    PluginPorts ports;
    std::function<QObject *()> make;
    if (plugin) {
        Plugin_Com_Device *device = ports.device(typeKey);
        if (!device) {
            std::printf("error: %s not built\n", qPrintable(typeKey));
            return 1;
        }
        make = [device]() -> QObject * { return device->createPort(); };
    } else {
        make = rawKind(typeKey).make;
    }
    if (!make) {
        std::printf("error: unknown kind %s\n", qPrintable(typeKey));
        return 2;
    }

    // A few first objects untimed: code, plug-ins and static data in place.
    for (int i = 0; i < 10; ++i)
        delete make();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    malloc_trim(0);

    std::vector<QObject *> objects;
    objects.reserve(size_t(count));
    const qint64 before = ProcStats::residentBytes();
    for (int i = 0; i < count; ++i)
        objects.push_back(make());
    const qint64 after = ProcStats::residentBytes();
    std::printf("%.1f\n", (after - before) / 1024.0);
    std::fflush(stdout);
    for (QObject *object : objects)
        delete object;
    return 0;
}

double MemoryBench::runProbe(const QString &typeKey, bool plugin, int count, QString *error) const
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--memory-probe"),
                 QStringLiteral("%1:%2:%3").arg(typeKey, plugin ? QStringLiteral("plugin") : QStringLiteral("raw"))
                     .arg(count)});
    if (!child.waitForFinished(kProbeTimeoutMs)) {
        child.kill();
        child.waitForFinished();
        *error = QStringLiteral("the probe did not finish");
        return -1;
    }
    const QString said = QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed();
    bool ok = false;
    const double kib = said.toDouble(&ok);
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 || !ok) {
        *error = said.startsWith(QLatin1String("error: ")) ? said.mid(7) : QStringLiteral("the probe failed");
        return -1;
    }
    return kib;
}

QVector<BenchRow> MemoryBench::run()
{
    const QStringList kinds{QStringLiteral("com"), QStringLiteral("canBus"), QStringLiteral("tcpServer"),
                            QStringLiteral("tcpClient"), QStringLiteral("udpClient")};
    const int count = m_config.memoryPorts;
    QVector<BenchRow> rows;
    for (const QString &typeKey : kinds) {
        BenchRow row;
        row.path = QStringLiteral("memory, %1 idle %2 ports").arg(count).arg(typeKey);
        row.unit = QStringLiteral("KiB");
        row.baselineName = rawKind(typeKey).name;
        QString pluginError;
        QString rawError;
        for (int rep = 0; rep < m_config.memoryRepetitions; ++rep) {
            const double pluginKiB = runProbe(typeKey, true, count, &pluginError);
            if (pluginKiB >= 0)
                row.plugin.add(pluginKiB);
            const double rawKiB = runProbe(typeKey, false, count, &rawError);
            if (rawKiB >= 0)
                row.baseline.add(rawKiB);
            if (!pluginError.isEmpty())
                break;
        }
        QStringList notes;
        row.failed = (!pluginError.isEmpty() && !pluginError.endsWith(QLatin1String("not built")))
                     || !rawError.isEmpty();
        if (!pluginError.isEmpty())
            notes.append(QStringLiteral("plug-in: %1").arg(pluginError));
        if (!rawError.isEmpty())
            notes.append(QStringLiteral("raw: %1").arg(rawError));
        row.note = notes.join(QStringLiteral("; "));
        rows << row;
    }
    return rows;
}
