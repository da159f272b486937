#include "host/PluginInterface_Com.h"

#include <QFile>
#include <QJsonObject>
#include <QPluginLoader>
#include <QPointer>
#include <QtTest>

// Loads the built plug-in file the way a host does.
class tst_Loader : public QObject
{
    Q_OBJECT
private slots:
    // First: later cases keep the library loaded.
    void unloadReleasesResources();
    void metadataAndRootObject();
};

// The host may unload the plug-in; its embedded help must go with it.
void tst_Loader::unloadReleasesResources()
{
    const QString brief = QStringLiteral(":/PCom_Core/com/help/brief.html");
    QVERIFY(!QFile::exists(brief));
    QPluginLoader loader(QStringLiteral(PCOM_PLUGIN_FILE));
    // QPluginLoader keeps libraries mapped by default; a host may not.
    loader.setLoadHints({});
    for (int round = 0; round < 2; ++round) {
        QVERIFY(loader.load());
        QVERIFY(QFile::exists(brief));
        QVERIFY(loader.instance());
        QVERIFY(loader.unload());
        QVERIFY(!QFile::exists(brief));
    }
}

// As Qt reads it, and as the file carries it: Qt 5's magic, version bytes and
// a CBOR map with the identifier and the class name.
void tst_Loader::metadataAndRootObject()
{
    const QJsonObject meta = QPluginLoader(QStringLiteral(PCOM_PLUGIN_FILE)).metaData();
    QCOMPARE(meta.value(QStringLiteral("IID")).toString(), QStringLiteral(PluginInterface_Com_Core_iid));
    QCOMPARE(meta.value(QStringLiteral("className")).toString(), QStringLiteral("PCom_Core"));
    QVERIFY(meta.value(QStringLiteral("MetaData")).toObject().isEmpty());

    QFile file(QStringLiteral(PCOM_PLUGIN_FILE));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray image = file.readAll();
    const int at = image.indexOf("QTMETADATA !");
    QVERIFY(at >= 0);
    QCOMPARE(image.mid(at + 12, 3), QByteArray("\0", 1) + char(QT_VERSION_MAJOR) + char(QT_VERSION_MINOR));
    QCOMPARE(uchar(image.at(at + 16)), uchar(0xBF));
    const QByteArray body = image.mid(at + 16, 200);
    QVERIFY(body.contains(PluginInterface_Com_Core_iid) && body.contains("PCom_Core"));

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

    // A deleted root object is replaced on the next call.
    delete first.data();
    QVERIFY(first.isNull());
    QObject *second = loader.instance();
    QVERIFY(qobject_cast<PluginInterface_Com *>(second));
    QCOMPARE(loader.instance(), second);
}

QTEST_GUILESS_MAIN(tst_Loader)
#include "tst_loader.moc"
