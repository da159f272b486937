#include "host/PluginInterface_Com.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"
#include "host/TavlinProperty_RegexValidator.h"

#include <QCanBus>
#include <QIntValidator>
#include <QSerialPortInfo>
#include <QtTest>

// Every property record of a new port of every kind, field by field, against
// the table below, and the records each host version is shown; what the "ip"
// check lets through.
class tst_Records : public QObject
{
    Q_OBJECT
private slots:
    void records_data();
    void records();
    void ipAddressPattern();
};

namespace {

// flags: visible, validated, stored as '1'/'0'. check: "" none, "ip" the
// IPv4 pattern, "port" an int validator 0..65535. from/to: "" is open.
// options: a fixed list, or "$ports" (the device's list), "$plugins" (Qt's
// CAN back-ends), "$rates" (Qt's standard serial rates).
struct Row {
    const char *kind, *name;
    int type;
    const char *flags, *def, *check, *desc, *from, *to, *options;
    bool writable;
};

const char *const s_canRates = "5000,10000,20000,33000,47000,50000,83000,95000,100000,125000,250000,500000,800000,1000000";

const Row s_rows[] = {
    {"com", "plugin", 0, "101", "", "", "Plugin name", "2.12", "", "", false},
    {"com", "interface", 0, "101", "", "", "", "", "2.10", "", false},
    {"com", "device", 1, "101", "", "", "COM port name (COM1, ...)", "", "", "$ports", true},
    {"com", "baudrate", 1, "101", "", "", "Baudrate in baud", "", "", "$rates", true},
    {"com", "connect", 2, "101", "false", "", "Open / close the port", "", "", "", true},
    {"canBus", "plugin", 0, "101", "", "", "Plugin name", "2.12", "", "", false},
    {"canBus", "interface", 1, "101", "", "", "", "2.20", "", "$plugins", true},
    {"canBus", "device", 1, "101", "", "", "Device name", "", "", "$ports", true},
    {"canBus", "baudrate", 1, "101", "", "", "Baudrate in baud", "", "", s_canRates, true},
    {"canBus", "connect", 2, "101", "false", "", "Open / close the port", "", "", "", true},
    {"tcpServer", "plugin", 0, "101", "", "", "Plugin name", "2.12", "", "", false},
    {"tcpServer", "port", 0, "110", "0", "port", "Port where the server listen on", "2.12", "", "", true},
    {"tcpServer", "address", 0, "110", "127.0.0.1", "ip", "IP address where the server listen on", "2.12", "", "", true},
    {"tcpServer", "connect", 2, "101", "false", "", "Enable / disable the server for listening for connection", "2.12", "", "", true},
    {"tcpClient", "plugin", 0, "101", "", "", "Plugin name", "2.12", "", "", false},
    {"tcpClient", "address", 0, "110", "127.0.0.1", "ip", "Server IP address to connect to", "2.12", "", "", true},
    {"tcpClient", "port", 0, "110", "0", "port", "Server port to connect to", "2.12", "", "", true},
    {"tcpClient", "connect", 2, "101", "false", "", "Enable / disable the connection to the server", "2.12", "", "", true},
    {"udpClient", "plugin", 0, "101", "", "", "Plugin name", "2.12", "", "", false},
    {"udpClient", "bind-address", 0, "110", "0", "ip", "UDP bind IP address (Host to listen from)", "2.12", "", "", true},
    {"udpClient", "bind-port", 0, "110", "0", "port", "UDP bind IP port (Host to listen from)", "2.12", "", "", true},
    {"udpClient", "address", 0, "110", "127.0.0.1", "ip", "IP address to send datagram to", "2.12", "", "", true},
    {"udpClient", "port", 0, "110", "0", "port", "Port to send datagram to", "2.12", "", "", true},
    {"udpClient", "connect", 2, "101", "false", "", "Enable / disable the connection to the host", "2.12", "", "", true},
};

Version bound(const char *text)
{
    return *text ? Version(QString::fromLatin1(text)) : Version(-1, 0, 0);
}

bool shown(const Row &row, const QString &hostVersion)
{
    if (hostVersion.isEmpty())
        return true;
    const Version v(hostVersion);
    return (bound(row.from).isOpenEnd() || !(v < bound(row.from))) && (bound(row.to).isOpenEnd() || !(bound(row.to) < v));
}

QString checkOf(const TavlinProperty *record)
{
    if (auto *regex = qobject_cast<const TavlinProperty_RegexValidator *>(record->validator()))
        return regex->pattern() == TavlinProperty_RegexValidator::IpAddress ? QStringLiteral("ip") : QStringLiteral("regex");
    if (auto *range = qobject_cast<const QIntValidator *>(record->validator()))
        return range->bottom() == 0 && range->top() == 65535 ? QStringLiteral("port")
                                                              : QStringLiteral("%1..%2").arg(range->bottom()).arg(range->top());
    return record->validator() ? QStringLiteral("other") : QString();
}

} // namespace

void tst_Records::records_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("hostVersion");
    for (const char *kind : {"com", "canBus", "tcpServer", "tcpClient", "udpClient"})
        for (const char *version : {"", "2.10", "2.12", "2.20"})
            QTest::addRow("%s %s", kind, *version ? version : "all") << kind << version;
}

void tst_Records::records()
{
    QFETCH(QString, kind);
    QFETCH(QString, hostVersion);
    QPluginLoader loader(QStringLiteral(PCOM_PLUGIN_FILE));
    auto *plugin = qobject_cast<PluginInterface_Com *>(loader.instance());
    QVERIFY2(plugin, qPrintable(loader.errorString()));
    Plugin_Com_Device *device = plugin->createDevice(nullptr, kind);
    QVERIFY(device);
    Plugin_Com_Port *port = device->createPort();

    QStringList expected, actual;
    for (const Row &row : s_rows) {
        if (kind != QLatin1String(row.kind) || !shown(row, hostVersion))
            continue;
        QStringList options = QString::fromLatin1(row.options).split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (options == QStringList{"$ports"})
            options = device->availablePorts();
        else if (options == QStringList{"$plugins"})
            options = QCanBus::instance()->plugins();
        else if (options == QStringList{"$rates"}) {
            options.clear();
            for (qint32 rate : QSerialPortInfo::standardBaudRates())
                options << QString::number(rate);
        }
        expected << QStringList{row.name, QString::number(row.type), row.flags, row.def, row.check, row.desc,
                                bound(row.from).toString(), bound(row.to).toString(), options.join(QLatin1Char(',')),
                                row.writable ? "writable" : "fixed"}
                        .join(QLatin1Char('|'));
    }
    for (const TavlinProperty *r : port->tavlinProperties()) {
        if (!hostVersion.isEmpty() && !r->isSupported(Version(hostVersion)))
            continue;
        const QString flags = QStringLiteral("%1%2%3").arg(int(r->isVisible())).arg(int(r->isValidated())).arg(int(r->isStored()));
        actual << QStringList{r->name(), QString::number(r->inputType()), flags, r->defaultValue(), checkOf(r),
                              r->description, r->minVersion().toString(), r->maxVersion().toString(),
                              r->options().join(QLatin1Char(',')), r->isWritable() ? "writable" : "fixed"}
                      .join(QLatin1Char('|'));
    }
    QCOMPARE(actual, expected);

    device->deletePort(port);
    plugin->deleteDevice(device);
}

void tst_Records::ipAddressPattern()
{
    TavlinProperty_RegexValidator validator(TavlinProperty_RegexValidator::IpAddress);
    const QList<QPair<QString, QValidator::State>> cases{
        {"255.255.255.255", QValidator::Acceptable}, {"0.0.0.0", QValidator::Acceptable},
        {"192.168.", QValidator::Intermediate},      {"", QValidator::Intermediate},
        {"256.1.1.1", QValidator::Invalid},          {"1.2.3.4.5", QValidator::Invalid},
        {"localhost", QValidator::Invalid},          {"01.2.3.4", QValidator::Invalid}};
    for (auto c : cases) {
        int pos = 0;
        QVERIFY2(validator.validate(c.first, pos) == c.second, qPrintable(c.first));
    }
}

QTEST_GUILESS_MAIN(tst_Records)
#include "tst_records.moc"
