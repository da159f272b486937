#include "bench/PropertyBench.h"

#include "bench/BenchLog.h"
#include "bench/NamedProperty.h"
#include "bench/PluginPorts.h"
#include "host/Plugin_Com_Port.h"

#include <QMetaProperty>
#include <QElapsedTimer>

namespace {
struct Case
{
    const char *typeKey;
    const char *name;
    QVariant first;
    QVariant second;
};

// Calls per second of `call(i)` for i in [0, count).
template <class Call>
double rate(int count, Call call)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        call(i);
    return count / (timer.nsecsElapsed() / 1e9);
}
}

PropertyBench::PropertyBench(const BenchConfig &config, PluginPorts &ports, BenchLog &log)
    : m_config(config), m_ports(ports), m_log(log)
{
}

QVector<BenchRow> PropertyBench::run()
{
    const QVector<Case> cases{
        {"com", "baudrate", 9600, 19200},
        {"canBus", "baudrate", QStringLiteral("250000"), QStringLiteral("500000")},
        {"tcpServer", "port", 1000, 1001},
        {"tcpClient", "port", 1000, 1001},
        {"udpClient", "port", 1000, 1001},
    };

    QVector<BenchRow> rows;
    for (const Case &c : cases) {
        const QString typeKey = QString::fromLatin1(c.typeKey);
        const QString name = QString::fromLatin1(c.name);

        BenchRow set;
        set.path = QStringLiteral("property set %1 \"%2\"").arg(typeKey, name);
        set.unit = QStringLiteral("calls/s");
        set.baselineName = QStringLiteral("QObject::setProperty");
        BenchRow get = set;
        get.path = QStringLiteral("property get %1 \"%2\"").arg(typeKey, name);
        get.baselineName = QStringLiteral("QObject::property");

        Plugin_Com_Port *port = m_ports.create(typeKey);
        if (!port) {
            set.note = QStringLiteral("%1 not built").arg(typeKey);
            rows << set << get;
            continue;
        }
        // Qt's lookup by name is what this baseline measures, on an object
        // of the bench's own.
        NamedProperty named;
        const char *const valueName = NamedProperty::staticMetaObject.property(
            NamedProperty::staticMetaObject.indexOfProperty("value")).name();
        const QVariant values[2] = {c.first, c.second};
        const int count = m_config.propertyCalls;
        QVariant sink;
        for (int rep = 0; rep < m_config.repetitions; ++rep) {
            set.plugin.add(rate(count, [&](int i) { sink = port->setTavlinProperty(name, values[i & 1]); }));
            set.baseline.add(rate(count, [&](int i) { named.setProperty(valueName, values[i & 1]); }));
            get.plugin.add(rate(count, [&](int) { sink = port->getTavlinProperty(name); }));
            get.baseline.add(rate(count, [&](int) { sink = named.property(valueName); }));
        }
        if (port->getTavlinProperty(name) != values[(count - 1) & 1]) {
            set.note = QStringLiteral("the value did not stick");
            set.failed = true;
        }
        m_ports.release(port);
        rows << set << get;
    }
    m_log.takeErrors();
    m_log.takeProgress();
    return rows;
}
