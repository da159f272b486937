#include "tests/ExpectedDocs.h"
#include "host/HelpRenderer.h"
#include "tests/support/ObjectCensus.h"
#include "plugin/PCom_Core.h"
#include "host/Plugin_Com_Device.h"
#include "host/Version.h"

#include <QFile>
#include <QtTest>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A device whose documentation directory does not exist.
class UndocumentedDevice : public Plugin_Com_Device
{
public:
    UndocumentedDevice() : Plugin_Com_Device(nullptr, nullptr) {}
    QStringList availablePorts() override { return {}; }
    Plugin_Com_Port *createPort() override { return nullptr; }
    void deletePort(Plugin_Com_Port *) override {}
    QString getDocPath() const override { return QStringLiteral(":/PCom_Core/none"); }
    QString getChildPropertyDoc(const Version &) override { return QString(); }
};

} // namespace

// The documentation that each device of the plug-in carries, as a program
// linked with the plug-in's code sees it from its start, and the host's page
// built from it.
class tst_Docs : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void deviceResources();
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
    QCOMPARE(m_devices.size(), ExpectedDocs::kinds().size());
}

void tst_Docs::cleanup()
{
    qDeleteAll(m_devices);
    m_devices.clear();
}

void tst_Docs::deviceResources()
{
    const QByteArray icon = readAll(QStringLiteral(":/PCom_Core/com/images/toolIcon.png"));
    QVERIFY(icon.startsWith("\x89PNG\r\n\x1a\n"));
    for (int i = 0; i < m_devices.size(); ++i) {
        const ExpectedDocs::Kind kind = ExpectedDocs::kinds().at(i);
        Plugin_Com_Device *device = m_devices.at(i);
        QCOMPARE(device->getDocPath(), ExpectedDocs::directory(kind.key));
        QCOMPARE(readAll(device->getDocBriefPath()), kind.briefLine + "\r\n");
        QCOMPARE(readAll(device->getDocMainPath()), ExpectedDocs::mainPage(kind.key));
        QCOMPARE(readAll(device->getIconPath()), icon);
    }
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
    const QString iconElement = QStringLiteral("<img src=\"data:image/png;base64,%1\"").arg(
        QString::fromLatin1(readAll(QStringLiteral(":/PCom_Core/com/images/toolIcon.png")).toBase64()));

    for (int i = 0; i < m_devices.size(); ++i) {
        const ExpectedDocs::Kind kind = ExpectedDocs::kinds().at(i);
        const QString page = HelpRenderer::render(m_devices.at(i), hostVersion);
        QVERIFY2(page.contains(QStringLiteral("<title>%1</title>").arg(kind.deviceName)), qPrintable(kind.key));
        QVERIFY(page.contains(QStringLiteral("<H1>%1</H1>\r\n<br/>%2").arg(kind.deviceName, iconElement)));
        QVERIFY(page.contains(QString::fromLatin1(kind.briefLine + "\r\n\r\n")));
        QCOMPARE(page.contains(QString::fromLatin1(ExpectedDocs::canNote())), kind.key == QLatin1String("canBus"));
        QVERIFY(page.contains(QStringLiteral("<h2>Properties</h2>\r\n<h3>Port object</h3>")));
        QVERIFY(page.contains(m_devices.at(i)->getChildPropertyDoc(hostVersion)));
        QVERIFY(!page.contains(QStringLiteral("${")));
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
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        ObjectCensus census;
        QCOMPARE(device->getChildPropertyDoc(hostVersion), first);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY2(census.created() > 0, qPrintable(device->getDocPath()));
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
