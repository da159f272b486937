#include "tests/ExpectedDocs.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPluginLoader>
#include <QResource>
#include <QtTest>

// The embedded documentation as a host sees it: it arrives with the plug-in
// file.
class tst_DocsLoader : public QObject
{
    Q_OBJECT
private slots:
    void resourcesArriveWithThePlugin();
};

void tst_DocsLoader::resourcesArriveWithThePlugin()
{
    QVERIFY(!QDir(QStringLiteral(":/PCom_Core")).exists());
    QPluginLoader loader(QStringLiteral(PCOM_PLUGIN_FILE));
    QVERIFY2(loader.load(), qPrintable(loader.errorString()));

    // Exactly these files, stored uncompressed, under the plug-in's directory.
    QStringList keys;
    for (const ExpectedDocs::Kind &kind : ExpectedDocs::kinds()) {
        keys << kind.key;
        const QDir dir(ExpectedDocs::directory(kind.key));
        QCOMPARE(dir.entryList(QDir::AllEntries, QDir::Name), (QStringList{"help", "images"}));
        QCOMPARE(QDir(dir.filePath("help")).entryList(QDir::AllEntries, QDir::Name),
                 (QStringList{"brief.html", "main.html"}));
        QCOMPARE(QDir(dir.filePath("images")).entryList(QDir::AllEntries, QDir::Name), QStringList{"toolIcon.png"});
        for (const char *file : {"/help/main.html", "/help/brief.html", "/images/toolIcon.png"})
            QCOMPARE(QResource(dir.path() + file).compressionAlgorithm(), QResource::NoCompression);
    }
    keys.sort();
    QCOMPARE(QDir(QStringLiteral(":/PCom_Core")).entryList(QDir::AllEntries, QDir::Name), keys);

    // The icon: a 40 x 40 PNG, 8-bit RGBA, not interlaced, a grey emblem on a
    // transparent background.
    QFile file(QStringLiteral(":/PCom_Core/com/images/toolIcon.png"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray icon = file.readAll();
    QCOMPARE(icon.left(29), QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x28\0\0\0\x28\x08\x06\0\0\0", 29));
    const QImage image = QImage::fromData(icon, "png");
    QCOMPARE(image.size(), QSize(40, 40));
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(39, 39)), 0);
    const QRgb rim = image.pixel(20, 3);
    QVERIFY(qAlpha(rim) == 255 && qRed(rim) == qGreen(rim) && qGreen(rim) == qBlue(rim));
}

QTEST_GUILESS_MAIN(tst_DocsLoader)
#include "tst_docs_loader.moc"
