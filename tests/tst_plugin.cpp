#include "host/ComInterface.h"
#include "host/HelpRenderer.h"
#include "host/PluginInterface_Com.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"
#include "host/Version.h"
#include "core/PCom_CanFrames.h"
#include "core/PCom_LinkStatus.h"
#include "core/PCom_SerialLine.h"
#include "core/PCom_ServedClients.h"
#include "tests/support/ObjectCensus.h"

#include <QImage>
#include <QtTest>

// The built plug-in file as a host loads it: its metadata and root object,
// the meta-objects that a host sees, the device factory, and the
// documentation that each device carries.
class tst_Plugin : public QObject
{
    Q_OBJECT
private slots:
    // First: later cases keep the library loaded.
    void unloadReleasesResources();
    void metadataAndRootObject();
    void metaObjects();
    void createDeviceByKey();
    void documentation_data();
    void documentation();

private:
    // metadataAndRootObject() tells why, when there is none.
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

void tst_Plugin::metadataAndRootObject()
{
    const QJsonObject meta = m_loader.metaData();
    QCOMPARE(meta.value(QStringLiteral("IID")).toString(), QStringLiteral(PluginInterface_Com_Core_iid));
    QCOMPARE(meta.value(QStringLiteral("className")).toString(), QStringLiteral("PCom_Core"));
    QVERIFY(meta.value(QStringLiteral("MetaData")).toObject().isEmpty());

    QPointer<QObject> first = m_loader.instance();
    QVERIFY2(first, qPrintable(m_loader.errorString()));
    auto *plugin = qobject_cast<PluginInterface_Com *>(first.data());
    QVERIFY(plugin);
    QCOMPARE(plugin->getPluginName(), QStringLiteral("PCom_Core"));
    QCOMPARE(first->qt_metacast(PluginInterface_Com_iid), static_cast<void *>(plugin));
    QVERIFY(!first->qt_metacast(PluginInterface_Com_Core_iid));

    // A deleted root object is replaced on the next call.
    delete first.data();
    QObject *second = m_loader.instance();
    QVERIFY(qobject_cast<PluginInterface_Com *>(second));
    QCOMPARE(m_loader.instance(), second);
}

// The plug-in's classes add to the host's base classes only the private slots
// that their connections need, the devices not even a meta-object; no port
// answers a cast to an interface. Hosts of ours find each port's companion
// through the plug-in's export, with the faces of its link.
void tst_Plugin::metaObjects()
{
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
void tst_Plugin::createDeviceByKey()
{
    QList<QPair<QString, QString>> cases{{"", "COM port"}, {"COM", ""}, {"tcpclient", ""}, {" com", ""},
                                         {"com ", ""}, {"modbus", ""}};
    for (const Kind &kind : s_kinds)
        cases.append(qMakePair(QString(kind.key), QString(kind.name)));
    ComInterface com;
    for (const auto &c : cases) {
        Plugin_Com_Device *device = plugin()->createDevice(&com, c.first);
        QCOMPARE(device ? device->name() : QString(), c.second);
        QVERIFY(!device || (device->comInterface() == &com && device->plugin() == plugin()));
        plugin()->deleteDevice(device);
    }
}

void tst_Plugin::documentation_data()
{
    QTest::addColumn<QString>("version");
    QTest::newRow("2.10") << "2.10";
    QTest::newRow("2.20") << "2.20";
}

// Every kind appended to the host's list, without an interface. Its
// documentation: exactly these files, stored uncompressed, byte for byte;
// the host's page built from them; documenting the port kind builds one
// port and destroys it again, leaving no Qt object of any kind behind.
void tst_Plugin::documentation()
{
    QFETCH(QString, version);
    ComInterface com;
    QList<Plugin_Com_Device *> devices{plugin()->createDevice(&com, QStringLiteral("com"))};
    plugin()->createDevices(devices);
    QCOMPARE(devices.size(), 1 + int(std::size(s_kinds)));
    QCOMPARE(devices.first()->comInterface(), &com);
    delete devices.takeFirst();
    const QByteArray icon = readAll(QStringLiteral(":/PCom_Core/com/images/toolIcon.png"));
    const QString iconElement =
        QStringLiteral("<img src=\"data:image/png;base64,%1\"").arg(QString::fromLatin1(icon.toBase64()));
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
        const bool can = kind.key == QByteArray("canBus");
        QCOMPARE(readAll(device->getDocMainPath()),
                 "<H1>${name}</H1>\r\n<br/>${icon}<br/>\r\n\r\n${brief}\r\n\r\n" +
                     (can ? s_canNote + "\r\n\r\n<h2>Properties</h2>\r\n${properties}\r\n"
                          : QByteArray("<h2>Properties</h2>\r\n${properties}")));

        const Version hostVersion(version);
        const QString page = HelpRenderer::render(device, hostVersion);
        QVERIFY(page.contains(QStringLiteral("<title>%1</title>").arg(kind.name)));
        QVERIFY(page.contains(QStringLiteral("<H1>%1</H1>\r\n<br/>%2").arg(kind.name, iconElement)));
        QVERIFY(page.contains(QString::fromLatin1(kind.brief) + "\r\n\r\n"));
        QCOMPARE(page.contains(QString::fromLatin1(s_canNote)), can);
        QVERIFY(page.contains(QStringLiteral("<h2>Properties</h2>\r\n<h3>Port object</h3>")));
        const QString properties = device->getChildPropertyDoc(hostVersion);
        QVERIFY(page.contains(properties) && !page.contains(QStringLiteral("${")));
        // Qt's own singletons (CAN bus registry and the like) appeared on first use.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ObjectCensus census;
        QCOMPARE(device->getChildPropertyDoc(hostVersion), properties);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(census.created() > 0);
        QCOMPARE(census.alive(), 0);
        // "interface" is documented up to 2.10 (com) or from 2.20 (CAN), "plugin" from 2.12 on.
        const bool serial = kind.key == QByteArray("com");
        QCOMPARE(page.contains(QStringLiteral("<td>interface</td>")), (serial && version == "2.10") || (can && version == "2.20"));
        QCOMPARE(page.contains(QStringLiteral("<td>plugin</td>")), version == "2.20");
    }
    QCOMPARE(QDir(QStringLiteral(":/PCom_Core")).entryList(QDir::AllEntries, QDir::Name),
             (QStringList{"canBus", "com", "tcpClient", "tcpServer", "udpClient"}));

    // The icon: a 40 x 40 PNG, 8-bit RGBA, a grey emblem on a transparent background.
    QCOMPARE(icon.left(29), QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x28\0\0\0\x28\x08\x06\0\0\0", 29));
    const QImage image = QImage::fromData(icon, "png");
    QVERIFY(qAlpha(image.pixel(0, 0)) == 0 && qAlpha(image.pixel(39, 39)) == 0);
    const QRgb rim = image.pixel(20, 3);
    QVERIFY(qAlpha(rim) == 255 && qRed(rim) == qGreen(rim) && qGreen(rim) == qBlue(rim));
    qDeleteAll(devices);
}

QTEST_GUILESS_MAIN(tst_Plugin)
#include "tst_plugin.moc"
