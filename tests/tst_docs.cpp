#include "ExpectedDocs.h"
#include "HelpRenderer.h"
#include "ObjectCensus.h"
#include "PCom_Core.h"
#include "Plugin_Com_Device.h"
#include "Plugin_Com_Port.h"
#include "TavlinProperty.h"
#include "Version.h"

#include <QFile>
#include <QtTest>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString keyOf(const Plugin_Com_Device *device)
{
    return device->getDocPath().section(QLatin1Char('/'), -1);
}

// A device whose documentation directory does not exist.
class UndocumentedDevice : public Plugin_Com_Device
{
public:
    UndocumentedDevice() : Plugin_Com_Device(nullptr, nullptr) { m_name = QStringLiteral("none"); }
    QStringList availablePorts() override { return {}; }
    Plugin_Com_Port *createPort() override { return nullptr; }
    void deletePort(Plugin_Com_Port *) override {}
    QString getDocPath() const override { return QStringLiteral(":/PCom_Core/none"); }
    QString getChildPropertyDoc(const Version &) override { return QString(); }
};

} // namespace

// The documentation that each device of the plug-in carries, as a program
// linked with the plug-in's code sees it, and the host's page built from it.
class tst_Docs : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void resourcesLinked();
    void devicePaths();
    void renderedPages_data();
    void renderedPages();
    void childPropertyDocLeavesNothingBehind();
    void rendererPlaceholders();

private:
    PCom_Core m_core;
    QList<Plugin_Com_Device *> m_devices;
};

void tst_Docs::init()
{
    m_core.createDevices(m_devices);
    QVERIFY(!m_devices.isEmpty());
}

void tst_Docs::cleanup()
{
    for (Plugin_Com_Device *device : qAsConst(m_devices))
        m_core.deleteDevice(device);
    m_devices.clear();
}

// The resources exist for every type key whether or not its device is
// built, and a program that links the plug-in's objects has them at start.
void tst_Docs::resourcesLinked()
{
    const QByteArray icon = readAll(QStringLiteral(":/PCom_Core/com/images/toolIcon.png"));
    QVERIFY(icon.startsWith("\x89PNG\r\n\x1a\n"));
    for (const QString &key : ExpectedDocs::typeKeys()) {
        const QString dir = ExpectedDocs::directory(key);
        QCOMPARE(readAll(dir + QStringLiteral("/help/main.html")), ExpectedDocs::mainPage(key));
        QCOMPARE(readAll(dir + QStringLiteral("/help/brief.html")), ExpectedDocs::brief(key));
        QCOMPARE(readAll(dir + QStringLiteral("/images/toolIcon.png")), icon);
    }
}

void tst_Docs::devicePaths()
{
    QStringList keys;
    for (Plugin_Com_Device *device : qAsConst(m_devices)) {
        const QString key = keyOf(device);
        QVERIFY2(ExpectedDocs::typeKeys().contains(key), qPrintable(device->getDocPath()));
        QVERIFY2(!keys.contains(key), qPrintable(key));
        keys.append(key);
        QCOMPARE(device->getDocPath(), QStringLiteral(":/%1/%2").arg(QStringLiteral("PCom_Core"), key));
        QCOMPARE(device->name(), ExpectedDocs::deviceName(key));
        QCOMPARE(device->getIconPath(), device->getDocPath() + QStringLiteral("/images/toolIcon.png"));
        QCOMPARE(readAll(device->getDocBriefPath()), ExpectedDocs::brief(key));
        QCOMPARE(readAll(device->getDocMainPath()), ExpectedDocs::mainPage(key));
        QVERIFY(!readAll(device->getIconPath()).isEmpty());
    }
    QVERIFY(keys.contains(QStringLiteral("com")));
}

void tst_Docs::renderedPages_data()
{
    QTest::addColumn<QString>("version");
    QTest::newRow("2.10") << "2.10";
    QTest::newRow("2.20") << "2.20";
}

void tst_Docs::renderedPages()
{
    QFETCH(QString, version);
    const Version hostVersion(version);
    const QByteArray icon = readAll(QStringLiteral(":/PCom_Core/com/images/toolIcon.png"));
    const QString iconElement = QStringLiteral("<img src=\"data:image/png;base64,%1\"")
                                    .arg(QString::fromLatin1(icon.toBase64()));

    for (Plugin_Com_Device *device : qAsConst(m_devices)) {
        const QString key = keyOf(device);
        const QString name = ExpectedDocs::deviceName(key);
        const QString page = HelpRenderer::render(device, hostVersion);
        QVERIFY2(page.startsWith(QStringLiteral("<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"utf-8\">")),
                 qPrintable(key));
        QVERIFY(page.contains(QStringLiteral("<title>%1</title>").arg(name)));
        QVERIFY(page.endsWith(QStringLiteral("</body>\r\n</html>\r\n")));
        QVERIFY(page.contains(QStringLiteral("<H1>%1</H1>\r\n<br/>%2").arg(name, iconElement)));
        QVERIFY(page.contains(QString::fromLatin1(ExpectedDocs::briefLine(key)) + QStringLiteral("\r\n\r\n")));
        QCOMPARE(page.contains(QString::fromLatin1(ExpectedDocs::canNote())), key == QLatin1String("canBus"));
        QVERIFY(page.contains(QStringLiteral("<h2>Properties</h2>\r\n<h3>Port object</h3>")));
        QVERIFY(page.contains(device->getChildPropertyDoc(hostVersion)));
        QVERIFY(!page.contains(QStringLiteral("${")));

        // Exactly the records of a port that this host version supports.
        Plugin_Com_Port *port = device->createPort();
        QVERIFY(port);
        const auto properties = port->tavlinProperties();
        QVERIFY(!properties.isEmpty());
        for (const TavlinProperty *p : properties) {
            const QString row = QStringLiteral("<tr><td>%1</td>").arg(p->name());
            QVERIFY2(page.contains(row) == p->isSupported(hostVersion),
                     qPrintable(key + QLatin1Char(' ') + p->name()));
        }
        device->deletePort(port);

        if (key == QLatin1String("com")) {
            const bool old = version == QLatin1String("2.10");
            QCOMPARE(page.contains(QStringLiteral("<tr><td>interface</td>")), old);
            QCOMPARE(page.contains(QStringLiteral("<tr><td>plugin</td>")), !old);
            QVERIFY(page.contains(QStringLiteral("<tr><td>baudrate</td>")));
        }
    }
}

// Documenting a port kind builds one port and destroys it again; a second
// call leaves no Qt object of any kind behind.
void tst_Docs::childPropertyDocLeavesNothingBehind()
{
    const Version hostVersion(QStringLiteral("2.20"));
    for (Plugin_Com_Device *device : qAsConst(m_devices)) {
        // Qt's own singletons (CAN bus registry and the like) appear on first use.
        const QString first = device->getChildPropertyDoc(hostVersion);
        QVERIFY(!first.isEmpty());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        ObjectCensus census;
        const QString again = device->getChildPropertyDoc(hostVersion);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(again, first);
        QVERIFY2(census.created() > 0, qPrintable(keyOf(device)));
        QCOMPARE(census.alive(), 0);
    }
}

void tst_Docs::rendererPlaceholders()
{
    QHash<QString, QString> values;
    values.insert(QStringLiteral("name"), QStringLiteral("${brief}"));
    values.insert(QStringLiteral("brief"), QStringLiteral("B"));
    QCOMPARE(HelpRenderer::fillPlaceholders(QStringLiteral("<${name}|${brief}|${other}|${name}>"), values),
             QStringLiteral("<${brief}|B|${other}|${brief}>"));

    UndocumentedDevice device;
    QVERIFY(HelpRenderer::render(&device, Version(QStringLiteral("2.20"))).isNull());
    QVERIFY(HelpRenderer::render(nullptr, Version(QStringLiteral("2.20"))).isNull());
}

QTEST_GUILESS_MAIN(tst_Docs)
#include "tst_docs.moc"
