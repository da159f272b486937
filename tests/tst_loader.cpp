#include "Plugin_Com_Device.h"
#include "PluginInterface_Com.h"

#include <QFile>
#include <QJsonObject>
#include <QPluginLoader>
#include <QPointer>
#include <QtTest>

// Loads the built plug-in file the way a host does and checks what the
// host reads before it creates anything.
class tst_Loader : public QObject
{
    Q_OBJECT
private slots:
    // First: later cases keep the library loaded.
    void unloadReleasesResources();
    void metadata();
    void rootObject();
    void metadataRecordBytes();
};

void tst_Loader::metadata()
{
    QPluginLoader loader(QStringLiteral(PCOM_PLUGIN_FILE));
    const QJsonObject meta = loader.metaData();
    QCOMPARE(meta.value(QStringLiteral("IID")).toString(),
             QStringLiteral(PluginInterface_Com_Core_iid));
    QCOMPARE(meta.value(QStringLiteral("className")).toString(), QStringLiteral("PCom_Core"));
    QVERIFY(!meta.contains(QStringLiteral("MetaData")) || meta.value(QStringLiteral("MetaData")).toObject().isEmpty());
}

void tst_Loader::rootObject()
{
    QPluginLoader loader(QStringLiteral(PCOM_PLUGIN_FILE));
    QVERIFY2(loader.load(), qPrintable(loader.errorString()));

    QPointer<QObject> first = loader.instance();
    QVERIFY(first);
    QCOMPARE(loader.instance(), first.data());
    QCOMPARE(QString::fromLatin1(first->metaObject()->className()), QStringLiteral("PCom_Core"));
    QCOMPARE(first->metaObject()->methodCount(), QObject::staticMetaObject.methodCount());

    auto *plugin = qobject_cast<PluginInterface_Com *>(first.data());
    QVERIFY(plugin);
    QCOMPARE(plugin->getPluginName(), QStringLiteral("PCom_Core"));
    QCOMPARE(first->qt_metacast("PluginInterface_Com"), static_cast<void *>(plugin));
    QCOMPARE(first->qt_metacast(PluginInterface_Com_iid), static_cast<void *>(plugin));
    QCOMPARE(first->qt_metacast("PCom_Core"), static_cast<void *>(first.data()));
    QVERIFY(!first->qt_metacast(PluginInterface_Com_Core_iid));

    Plugin_Com_Device *device = plugin->createDevice(nullptr, QStringLiteral("com"));
    QVERIFY(device);
    QCOMPARE(device->name(), QStringLiteral("COM port"));
    plugin->deleteDevice(device);

    delete first.data();
    QVERIFY(first.isNull());
    QObject *second = loader.instance();
    QVERIFY(second);
    QVERIFY(qobject_cast<PluginInterface_Com *>(second));
    QCOMPARE(loader.instance(), second);
}

// The record as the file carries it: Qt 5's magic, version bytes and a CBOR
// map with the identifier and the class name.
void tst_Loader::metadataRecordBytes()
{
    QFile file(QStringLiteral(PCOM_PLUGIN_FILE));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray image = file.readAll();
    const int at = image.indexOf("QTMETADATA !");
    QVERIFY(at >= 0);
    const QByteArray header = image.mid(at + 12, 4);
    QCOMPARE(int(header.at(0)), 0);
    QCOMPARE(int(header.at(1)), QT_VERSION_MAJOR);
    QCOMPARE(int(header.at(2)), QT_VERSION_MINOR);
    QCOMPARE(uchar(image.at(at + 16)), uchar(0xBF));
    const QByteArray body = image.mid(at + 16, 200);
    QVERIFY(body.contains(PluginInterface_Com_Core_iid));
    QVERIFY(body.contains("PCom_Core"));
}

// The host may unload the plug-in; its embedded help must go with it.
void tst_Loader::unloadReleasesResources()
{
    const QString brief = QStringLiteral(":/PCom_Core/com/help/brief.html");
    QVERIFY(!QFile::exists(brief));
    QPluginLoader loader(QStringLiteral(PCOM_PLUGIN_FILE));
    // QPluginLoader keeps libraries mapped by default; a host may not.
    loader.setLoadHints({});
    QVERIFY(loader.load());
    QVERIFY(QFile::exists(brief));
    QVERIFY(loader.instance());
    QVERIFY(loader.unload());
    QVERIFY(!QFile::exists(brief));
    QVERIFY(loader.load());
    QVERIFY(QFile::exists(brief));
    QVERIFY(loader.instance());
}

QTEST_GUILESS_MAIN(tst_Loader)
#include "tst_loader.moc"
