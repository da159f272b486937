#include "host/ComInterface.h"
#include "host/PluginInterface_Com.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"
#include "host/TavlinProperty_RegexValidator.h"
#include "host/Version.h"
#include "core/PCom_CanFrames.h"
#include "core/PCom_LinkStatus.h"
#include "core/PCom_SerialLine.h"
#include "core/PCom_ServedClients.h"
#include "tests/support/ObjectCensus.h"

#include <QCanBus>
#include <QImage>
#include <QIntValidator>
#include <QSerialPortInfo>
#include <QtTest>

// The built plug-in file as a host loads it: its metadata and root object,
// the meta-objects that a host sees, the device factory, the documentation
// that each device carries, and every property record of a new port of every
// kind, field by field, with the records each host version is shown.
class tst_Plugin : public QObject
{
    Q_OBJECT
private slots:
    // First: later cases keep the library loaded.
    void unloadReleasesResources();
    void metaObjects();
    void devicesAndDocumentation();
    void records_data();
    void records();

private:
    // metaObjects() tells why, when there is none.
    PluginInterface_Com *plugin() { return qobject_cast<PluginInterface_Com *>(m_loader.instance()); }

    QPluginLoader m_loader{QStringLiteral(PCOM_PLUGIN_FILE)};
};

namespace {

struct Kind {
    const char *key, *name, *brief;
};
// In the order in which the factory creates all devices at once.
const Kind s_kinds[] = {
    {"com", "COM port", "COM port interface"},
    {"canBus", "CAN bus", "CAN interface (SocketCAN, PassThruCAN, SystecCAN, PeakCAN, TinyCAN, VectorCAN)"},
    {"tcpServer", "Ethernet TCP server", "Ethernet TCP server"},
    {"tcpClient", "Ethernet TCP client", "Ethernet TCP client"},
    {"udpClient", "Ethernet UDP client", "Ethernet UDP client"},
};
const QByteArray s_canNote = "Note: In order for the CAN interface to be functional, make sure the required CAN dll "
                             "is available in the PATH variable or copy the dll to the Tavlin bin directory.";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What a meta-object adds to `base`, a line each: its class names down to
// base's, its methods, properties, enumerators and class infos.
QStringList membersBeyond(const QMetaObject *meta, const QMetaObject &base)
{
    QStringList out;
    for (const QMetaObject *m = meta; m && m != &base; m = m->superClass())
        out << QStringLiteral("class ") + m->className();
    const char *const access[] = {"private", "protected", "public"}, *const kind[] = {"method", "signal", "slot"};
    for (int i = base.methodCount(); i < meta->methodCount(); ++i)
        out << QStringLiteral("%1 %2 ").arg(access[meta->method(i).access()], kind[meta->method(i).methodType()])
                   + meta->method(i).methodSignature();
    for (int i = base.propertyCount(); i < meta->propertyCount(); ++i)
        out << QStringLiteral("property ") + meta->property(i).name();
    for (int i = base.enumeratorCount(); i < meta->enumeratorCount(); ++i)
        out << QStringLiteral("enum ") + meta->enumerator(i).name();
    for (int i = base.classInfoCount(); i < meta->classInfoCount(); ++i)
        out << QStringLiteral("classinfo ") + meta->classInfo(i).name();
    return out;
}

// flags: visible, validated, stored as '1'/'0'. check: "" none, "ip" the
// IPv4 pattern, "0..65535" an int validator's range. from/to: "" is open.
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
    {"tcpServer", "port", 0, "110", "0", "0..65535", "Port where the server listen on", "2.12", "", "", true},
    {"tcpServer", "address", 0, "110", "127.0.0.1", "ip", "IP address where the server listen on", "2.12", "", "", true},
    {"tcpServer", "connect", 2, "101", "false", "", "Enable / disable the server for listening for connection", "2.12", "", "", true},
    {"tcpClient", "plugin", 0, "101", "", "", "Plugin name", "2.12", "", "", false},
    {"tcpClient", "address", 0, "110", "127.0.0.1", "ip", "Server IP address to connect to", "2.12", "", "", true},
    {"tcpClient", "port", 0, "110", "0", "0..65535", "Server port to connect to", "2.12", "", "", true},
    {"tcpClient", "connect", 2, "101", "false", "", "Enable / disable the connection to the server", "2.12", "", "", true},
    {"udpClient", "plugin", 0, "101", "", "", "Plugin name", "2.12", "", "", false},
    {"udpClient", "bind-address", 0, "110", "0", "ip", "UDP bind IP address (Host to listen from)", "2.12", "", "", true},
    {"udpClient", "bind-port", 0, "110", "0", "0..65535", "UDP bind IP port (Host to listen from)", "2.12", "", "", true},
    {"udpClient", "address", 0, "110", "127.0.0.1", "ip", "IP address to send datagram to", "2.12", "", "", true},
    {"udpClient", "port", 0, "110", "0", "0..65535", "Port to send datagram to", "2.12", "", "", true},
    {"udpClient", "connect", 2, "101", "false", "", "Enable / disable the connection to the host", "2.12", "", "", true},
};

// Whether a host of that version is shown the row; the versions here compare
// as text.
bool shown(const Row &row, const QString &hostVersion)
{
    return hostVersion.isEmpty() ||
           ((!*row.from || hostVersion >= QLatin1String(row.from)) && (!*row.to || hostVersion <= QLatin1String(row.to)));
}

QString checkOf(const TavlinProperty *record)
{
    const auto *regex = qobject_cast<const TavlinProperty_RegexValidator *>(record->validator());
    if (const auto *range = qobject_cast<const QIntValidator *>(record->validator()))
        return QStringLiteral("%1..%2").arg(range->bottom()).arg(range->top());
    return regex && regex->pattern() == TavlinProperty_RegexValidator::IpAddress ? "ip" : record->validator() ? "other" : "";
}

} // namespace

// The host may unload the plug-in; its embedded help must go with it.
void tst_Plugin::unloadReleasesResources()
{
    const QString brief = QStringLiteral(":/PCom_Core/com/help/brief.html");
    QVERIFY(!QFile::exists(brief));
    QPluginLoader loader(QStringLiteral(PCOM_PLUGIN_FILE));
    // QPluginLoader keeps libraries mapped by default; a host may not.
    loader.setLoadHints({});
    for (int round = 0; round < 2; ++round) {
        QVERIFY(loader.load() && QFile::exists(brief) && loader.instance());
        QVERIFY(loader.unload() && !QFile::exists(brief));
    }
}

// The plug-in's classes add to the host's base classes only the private slots
// that their connections need, the devices not even a meta-object; no port
// answers a cast to an interface. Hosts of ours find each port's companion
// through the plug-in's export, with the faces of its link.
void tst_Plugin::metaObjects()
{
    // The metadata and the root object.
    const QJsonObject meta = m_loader.metaData();
    QCOMPARE(meta.value(QStringLiteral("IID")).toString(), QStringLiteral(PluginInterface_Com_Core_iid));
    QCOMPARE(meta.value(QStringLiteral("className")).toString(), QStringLiteral("PCom_Core"));
    QVERIFY(meta.value(QStringLiteral("MetaData")).toObject().isEmpty());
    QVERIFY2(plugin(), qPrintable(m_loader.errorString()));
    QCOMPARE(plugin()->getPluginName(), QStringLiteral("PCom_Core"));
    QCOMPARE(m_loader.instance()->qt_metacast(PluginInterface_Com_iid), static_cast<void *>(plugin()));
    QVERIFY(!m_loader.instance()->qt_metacast(PluginInterface_Com_Core_iid));
    QCOMPARE(membersBeyond(m_loader.instance()->metaObject(), QObject::staticMetaObject), QStringList{"class PCom_Core"});
    const QStringList clientSlots{"class PCom_SocketClientPort", "private slot onSessionOpened()",
                                  "private slot onHostFound()", "private slot onSocketConnected()",
                                  "private slot onSocketDisconnected()",
                                  "private slot onDisplayError(QAbstractSocket::SocketError)"};
    const QMap<QString, QStringList> members{
        {"com", {"class PCom_Com_Port"}},
        {"canBus", {"class PCom_CanBus_Port", "private slot onError(QCanBusDevice::CanBusError)",
                    "private slot onFrameWritten(qlonglong)"}},
        {"tcpServer", {"class PCom_TcpServer_Port", "private slot sessionOpened()", "private slot newConnection()",
                       "private slot disconnected(PCom_TcpServer_SockerOwner*)"}},
        {"tcpClient", QStringList{"class PCom_TcpClient_Port"} + clientSlots},
        {"udpClient", QStringList{"class PCom_UdpClient_Port"} + clientSlots},
        {"client owner", {"class PCom_TcpServer_SockerOwner", "public signal disconnected(PCom_TcpServer_SockerOwner*)",
                          "public signal readyRead()", "private slot onSocketConnected()", "private slot onHostFound()",
                          "private slot onSocketDisconnected()",
                          "private slot displayError(QAbstractSocket::SocketError)"}}};
    QLibrary library(QStringLiteral(PCOM_PLUGIN_FILE));
    const auto linkStatus = reinterpret_cast<PCom_LinkStatusLookup>(library.resolve(PCom_LinkStatus_lookupSymbol));
    QVERIFY(linkStatus);
    QList<Plugin_Com_Device *> devices;
    plugin()->createDevices(devices);
    for (Plugin_Com_Device *device : devices) {
        QCOMPARE(device->metaObject(), &Plugin_Com_Device::staticMetaObject);
        Plugin_Com_Port *port = device->createPort();
        const QString key = port->typeKey();
        QCOMPARE(membersBeyond(port->metaObject(), Plugin_Com_Port::staticMetaObject), members.value(key));
        for (const char *id : {PluginInterface_Com_iid, PluginInterface_Com_Core_iid, "PluginInterface_Com", "PCom_Port",
                               "PCom_LinkStatus", "PCom_CanFrames", "PCom_SerialLine", "PCom_ServedClients"})
            QVERIFY2(!port->qt_metacast(id), id);
        const PCom_LinkStatus *status = linkStatus(port);
        QVERIFY(status);
        QCOMPARE((QList<bool>{bool(status->face<PCom_CanFrames>()), bool(status->face<PCom_SerialLine>()),
                              bool(status->face<PCom_ServedClients>())}),
                 (QList<bool>{key == "canBus", key == "com", key == "tcpServer"}));
        if (key == "tcpServer") {
            // The server's client owner, through the type that the slot above takes.
            int type = QMetaType::UnknownType, argument = 0;
            void *args[] = {&type, &argument};
            QMetaObject::metacall(port, QMetaObject::RegisterMethodArgumentMetaType,
                                  port->metaObject()->indexOfSlot("disconnected(PCom_TcpServer_SockerOwner*)"), args);
            QVERIFY(QMetaType::metaObjectForType(type));
            QCOMPARE(membersBeyond(QMetaType::metaObjectForType(type), QObject::staticMetaObject),
                     members.value("client owner"));
        }
        device->deletePort(port);
    }
    qDeleteAll(devices);
}

// Each kind by its key, the serial port for no key, nothing for near misses.
// Every kind appended to the host's list, without an interface. Its
// documentation: exactly these files, stored uncompressed, byte for byte.
// Documenting the port kind builds one port and destroys it again, leaving
// no Qt object of any kind behind.
void tst_Plugin::devicesAndDocumentation()
{
    ComInterface com;
    QList<QPair<QString, QString>> cases{{"", "COM port"}, {"COM", ""}, {"tcpclient", ""}, {" com", ""},
                                         {"com ", ""}, {"modbus", ""}};
    for (const Kind &kind : s_kinds)
        cases.append(qMakePair(QString(kind.key), QString(kind.name)));
    for (const auto &c : cases) {
        Plugin_Com_Device *device = plugin()->createDevice(&com, c.first);
        QCOMPARE(device ? device->name() : QString(), c.second);
        QVERIFY(!device || (device->comInterface() == &com && device->plugin() == plugin()));
        plugin()->deleteDevice(device);
    }
    QList<Plugin_Com_Device *> devices{plugin()->createDevice(&com, QStringLiteral("com"))};
    plugin()->createDevices(devices);
    QCOMPARE(devices.size(), 1 + int(std::size(s_kinds)));
    QCOMPARE(devices.first()->comInterface(), &com);
    delete devices.takeFirst();
    // The icon: a 40 x 40 PNG, the same for every kind.
    const QByteArray icon = readAll(QStringLiteral(":/PCom_Core/com/images/toolIcon.png"));
    QCOMPARE(QImage::fromData(icon, "png").size(), QSize(40, 40));
    for (int i = 0; i < devices.size(); ++i) {
        const Kind kind = s_kinds[i];
        Plugin_Com_Device *device = devices.at(i);
        QVERIFY(device->name() == kind.name && !device->comInterface());
        const QDir dir(device->getDocPath());
        QCOMPARE(dir.path(), QStringLiteral(":/PCom_Core/") + kind.key);
        QCOMPARE(dir.entryList(QDir::AllEntries, QDir::Name), (QStringList{"help", "images"}));
        QCOMPARE(QDir(dir.filePath("help")).entryList(QDir::AllEntries, QDir::Name), (QStringList{"brief.html", "main.html"}));
        QCOMPARE(QDir(dir.filePath("images")).entryList(QDir::AllEntries, QDir::Name), QStringList{"toolIcon.png"});
        for (const char *file : {"/help/main.html", "/help/brief.html", "/images/toolIcon.png"})
            QCOMPARE(QResource(dir.path() + file).compressionAlgorithm(), QResource::NoCompression);
        QCOMPARE(readAll(device->getDocBriefPath()), QByteArray(kind.brief) + "\r\n");
        QCOMPARE(readAll(device->getIconPath()), icon);
        // Only the CAN page has the note, and only it ends with a line end.
        QCOMPARE(readAll(device->getDocMainPath()),
                 "<H1>${name}</H1>\r\n<br/>${icon}<br/>\r\n\r\n${brief}\r\n\r\n" +
                     (kind.key == QByteArray("canBus") ? s_canNote + "\r\n\r\n<h2>Properties</h2>\r\n${properties}\r\n"
                                                       : QByteArray("<h2>Properties</h2>\r\n${properties}")));
        // Qt's own singletons (CAN bus registry and the like) appear on first use.
        const QString properties = device->getChildPropertyDoc(Version(QStringLiteral("2.20")));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ObjectCensus census;
        QCOMPARE(device->getChildPropertyDoc(Version(QStringLiteral("2.20"))), properties);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(census.created() > 0);
        QCOMPARE(census.alive(), 0);
    }
    QCOMPARE(QDir(QStringLiteral(":/PCom_Core")).entryList(QDir::AllEntries, QDir::Name),
             (QStringList{"canBus", "com", "tcpClient", "tcpServer", "udpClient"}));
    qDeleteAll(devices);
}

void tst_Plugin::records_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("hostVersion");
    for (const char *kind : {"com", "canBus", "tcpServer", "tcpClient", "udpClient"})
        for (const char *version : {"", "2.10", "2.12", "2.20"})
            QTest::addRow("%s %s", kind, *version ? version : "all") << kind << version;
}

void tst_Plugin::records()
{
    QFETCH(QString, kind);
    QFETCH(QString, hostVersion);
    Plugin_Com_Device *device = plugin()->createDevice(nullptr, kind);
    QVERIFY(device);
    Plugin_Com_Port *port = device->createPort();

    QStringList rates, expected, actual;
    for (qint32 rate : QSerialPortInfo::standardBaudRates())
        rates << QString::number(rate);
    const QMap<QString, QStringList> lists{
        {"$ports", device->availablePorts()}, {"$plugins", QCanBus::instance()->plugins()}, {"$rates", rates}};
    for (const Row &row : s_rows) {
        if (kind != QLatin1String(row.kind) || !shown(row, hostVersion))
            continue;
        const QStringList options =
            lists.value(row.options, QString::fromLatin1(row.options).split(QLatin1Char(','), Qt::SkipEmptyParts));
        expected << QStringList{row.name, QString::number(row.type), row.flags, row.def, row.check, row.desc,
                                *row.from ? row.from : "open", *row.to ? row.to : "open", options.join(QLatin1Char(',')),
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
    plugin()->deleteDevice(device);
}

QTEST_GUILESS_MAIN(tst_Plugin)
#include "tst_plugin.moc"
