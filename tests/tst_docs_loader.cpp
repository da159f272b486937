#include "ExpectedDocs.h"
#include "HelpRenderer.h"
#include "Plugin_Com_Device.h"
#include "PluginInterface_Com.h"
#include "Version.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPluginLoader>
#include <QResource>
#include <QtEndian>
#include <QtTest>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QStringList allPaths()
{
    QStringList paths;
    for (const QString &key : ExpectedDocs::typeKeys()) {
        for (const QString &file : ExpectedDocs::fileNames())
            paths.append(ExpectedDocs::directory(key) + QLatin1Char('/') + file);
    }
    return paths;
}

} // namespace

// The embedded documentation as a host sees it: it arrives with the plug-in
// file.
class tst_DocsLoader : public QObject
{
    Q_OBJECT
private slots:
    void resourcesArriveWithThePlugin();
    void texts();
    void icons();
    void renderedPagesInHost();

private:
    QPluginLoader m_loader{QStringLiteral(PCOM_PLUGIN_FILE)};
};

void tst_DocsLoader::resourcesArriveWithThePlugin()
{
    for (const QString &path : allPaths())
        QVERIFY2(!QFile::exists(path), qPrintable(path));

    QVERIFY2(m_loader.load(), qPrintable(m_loader.errorString()));
    for (const QString &path : allPaths()) {
        QVERIFY2(QFile::exists(path), qPrintable(path));
        const QResource resource(path);
        QVERIFY(resource.isValid());
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    }

    // Nothing else under the plug-in's directory.
    QStringList keys = ExpectedDocs::typeKeys();
    keys.sort();
    QCOMPARE(QDir(QStringLiteral(":/PCom_Core")).entryList(QDir::AllEntries, QDir::Name), keys);
    for (const QString &key : qAsConst(keys)) {
        const QDir dir(ExpectedDocs::directory(key));
        QCOMPARE(dir.entryList(QDir::AllEntries, QDir::Name),
                 QStringList({QStringLiteral("help"), QStringLiteral("images")}));
        QCOMPARE(QDir(dir.filePath(QStringLiteral("help"))).entryList(QDir::AllEntries, QDir::Name),
                 QStringList({QStringLiteral("brief.html"), QStringLiteral("main.html")}));
        QCOMPARE(QDir(dir.filePath(QStringLiteral("images"))).entryList(QDir::AllEntries, QDir::Name),
                 QStringList({QStringLiteral("toolIcon.png")}));
    }
}

void tst_DocsLoader::texts()
{
    QVERIFY2(m_loader.load(), qPrintable(m_loader.errorString()));
    for (const QString &key : ExpectedDocs::typeKeys()) {
        const QString dir = ExpectedDocs::directory(key);
        const QByteArray mainPage = readAll(dir + QStringLiteral("/help/main.html"));
        const QByteArray brief = readAll(dir + QStringLiteral("/help/brief.html"));
        QCOMPARE(mainPage, ExpectedDocs::mainPage(key));
        QCOMPARE(brief, ExpectedDocs::brief(key));

        const bool can = key == QLatin1String("canBus");
        QCOMPARE(mainPage.size(), can ? 255 : 85);
        QCOMPARE(brief.size(), ExpectedDocs::briefLine(key).size() + 2);
        QCOMPARE(mainPage.contains("Note: "), can);
        QCOMPARE(mainPage.endsWith("\r\n"), can);
        QCOMPARE(mainPage.split('\n').size(), can ? 10 : 7);
        QCOMPARE(mainPage.count('\r'), mainPage.count('\n'));
        QVERIFY(!mainPage.contains("\r\r") && !mainPage.contains("\n\n"));
        QCOMPARE(brief.count('\n'), 1);
        QVERIFY(brief.endsWith("\r\n"));
        for (const char c : mainPage + brief)
            QVERIFY(uchar(c) < 0x80);
    }
}

void tst_DocsLoader::icons()
{
    QVERIFY2(m_loader.load(), qPrintable(m_loader.errorString()));
    const QByteArray icon = readAll(QStringLiteral(":/PCom_Core/com/images/toolIcon.png"));
    for (const QString &key : ExpectedDocs::typeKeys())
        QCOMPARE(readAll(ExpectedDocs::directory(key) + QStringLiteral("/images/toolIcon.png")), icon);

    // Signature, then the IHDR chunk: 40 x 40, 8 bits, RGBA, not interlaced.
    QVERIFY(icon.size() > 33);
    QCOMPARE(icon.left(8), QByteArray("\x89PNG\r\n\x1a\n"));
    QCOMPARE(icon.mid(8, 8), QByteArray("\x00\x00\x00\x0dIHDR", 8));
    const auto *ihdr = reinterpret_cast<const uchar *>(icon.constData() + 16);
    QCOMPARE(qFromBigEndian<quint32>(ihdr), 40u);
    QCOMPARE(qFromBigEndian<quint32>(ihdr + 4), 40u);
    QCOMPARE(int(ihdr[8]), 8);
    QCOMPARE(int(ihdr[9]), 6);
    QCOMPARE(int(ihdr[12]), 0);

    QBuffer buffer;
    buffer.setData(icon);
    QImageReader reader(&buffer, "png");
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), QSize(40, 40));
    QVERIFY(image.hasAlphaChannel());
    // Transparent corners around an opaque grey emblem.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(39, 39)), 0);
    const QRgb rim = image.pixel(20, 3);
    QCOMPARE(qAlpha(rim), 255);
    QCOMPARE(qRed(rim), qGreen(rim));
    QCOMPARE(qGreen(rim), qBlue(rim));
}

// A host that only has the plug-in file builds a complete page per device.
void tst_DocsLoader::renderedPagesInHost()
{
    QVERIFY2(m_loader.load(), qPrintable(m_loader.errorString()));
    auto *plugin = qobject_cast<PluginInterface_Com *>(m_loader.instance());
    QVERIFY(plugin);
    const QByteArray icon = readAll(QStringLiteral(":/PCom_Core/com/images/toolIcon.png"));

    QList<Plugin_Com_Device *> devices;
    plugin->createDevices(devices);
    QVERIFY(!devices.isEmpty());
    for (Plugin_Com_Device *device : qAsConst(devices)) {
        const QString key = device->getDocPath().section(QLatin1Char('/'), -1);
        const QString page = HelpRenderer::render(device, Version(QStringLiteral("2.20")));
        QVERIFY2(page.startsWith(QStringLiteral("<!DOCTYPE html>")), qPrintable(key));
        QVERIFY(page.contains(QStringLiteral("<title>%1</title>").arg(ExpectedDocs::deviceName(key))));
        QVERIFY(page.contains(QString::fromLatin1("data:image/png;base64," + icon.toBase64())));
        QVERIFY(page.contains(QString::fromLatin1(ExpectedDocs::briefLine(key))));
        QVERIFY(page.contains(QStringLiteral("<h3>Port object</h3>")));
        QVERIFY(page.endsWith(QStringLiteral("</html>\r\n")));
        plugin->deleteDevice(device);
    }
}

QTEST_GUILESS_MAIN(tst_DocsLoader)
#include "tst_docs_loader.moc"
