#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// cmake --install puts pcom-gui beside pcom with its desktop entry and icon,
// and the installed program finds its plug-in, opens a workspace given on
// its command line and saves a picture of its window headless.
class tst_GuiInstall : public QObject
{
    Q_OBJECT
private slots:
    void installedWindowTakesItsScreenshot();
};

// The exit status (-1 when it did not finish or crashed) and all output.
static int run(const QString &program, const QStringList &arguments, QByteArray *out)
{
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(60000);
    *out = process.readAllStandardOutput() + process.readAllStandardError();
    return finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void tst_GuiInstall::installedWindowTakesItsScreenshot()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString prefix = root.filePath(QStringLiteral("prefix"));
    QByteArray out;
    QVERIFY2(run(PCOM_CMAKE_COMMAND, {"--install", PCOM_BUILD_DIR, "--prefix", prefix}, &out) == 0, out.constData());
    QVERIFY(QFileInfo(prefix + QStringLiteral("/bin/pcom")).isExecutable());
    QVERIFY(QFileInfo::exists(prefix + QStringLiteral("/share/icons/hicolor/scalable/apps/pcom-gui.svg")));
    QSettings entry(prefix + QStringLiteral("/share/applications/pcom-gui.desktop"), QSettings::IniFormat);
    QCOMPARE(entry.value(QStringLiteral("Desktop Entry/Exec")).toString(), QStringLiteral("pcom-gui %f"));
    QCOMPARE(entry.value(QStringLiteral("Desktop Entry/Icon")).toString(), QStringLiteral("pcom-gui"));

    const QString gui = prefix + QStringLiteral("/bin/pcom-gui");
    const QString picture = root.filePath(QStringLiteral("window.png"));
    QVERIFY2(run(gui, {"--screenshot", picture}, &out) == 0, out.constData());
    const QImage image(picture);
    QVERIFY(image.width() >= 800 && image.height() >= 500);

    // A workspace given on the command line; a bad one is reported, with status 1.
    const QString workspace = root.filePath(QStringLiteral("w.json"));
    QFile file(workspace);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"format": "pcom-gui workspace", "ports": [{"type": "udpClient", "properties": {"port": "40007"}}]})");
    file.close();
    QVERIFY2(run(gui, {"--screenshot", picture, workspace}, &out) == 0, out.constData());
    QVERIFY(QFile::resize(workspace, 20));
    QCOMPARE(run(gui, {"--screenshot", picture, "--workspace", workspace}, &out), 1);
    QVERIFY2(out.contains(workspace.toUtf8() + " is not a workspace: it is no JSON"), out.constData());
}

QTEST_GUILESS_MAIN(tst_GuiInstall)
#include "tst_gui_install.moc"
