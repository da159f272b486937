#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

// cmake --install puts pcom, the host library and the plug-in in place, and
// the installed pcom finds its plug-in there: under a prefix chosen at
// install time and under a DESTDIR staging directory.
class tst_CliInstall : public QObject
{
    Q_OBJECT
private slots:
    void installedPcomFindsItsPlugin();
};

static bool runProcess(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
                       QByteArray *out, int *exitCode)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return false;
    *out = process.readAllStandardOutput() + process.readAllStandardError();
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return true;
}

void tst_CliInstall::installedPcomFindsItsPlugin()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString prefix = root.filePath(QStringLiteral("prefix"));
    const QString stage = root.filePath(QStringLiteral("stage"));
    const QProcessEnvironment plain = QProcessEnvironment::systemEnvironment();
    QByteArray out;
    int code = -1;

    QVERIFY(runProcess(QStringLiteral(PCOM_CMAKE_COMMAND),
                       {QStringLiteral("--install"), QStringLiteral(PCOM_BUILD_DIR), QStringLiteral("--prefix"), prefix},
                       plain, &out, &code));
    QVERIFY2(code == 0, out.constData());

    QProcessEnvironment staged = plain;
    staged.insert(QStringLiteral("DESTDIR"), stage);
    QVERIFY(runProcess(QStringLiteral(PCOM_CMAKE_COMMAND), {QStringLiteral("--install"), QStringLiteral(PCOM_BUILD_DIR)},
                       staged, &out, &code));
    QVERIFY2(code == 0, out.constData());

    const QString stagedPrefix = stage + QStringLiteral(PCOM_INSTALL_PREFIX);
    for (const QString &installed : {prefix, stagedPrefix}) {
        const QString pcom = installed + QStringLiteral("/bin/pcom");
        QVERIFY2(QFileInfo(pcom).isExecutable(), qPrintable(pcom));
        QVERIFY(runProcess(pcom, {QStringLiteral("devices")}, plain, &out, &code));
        QVERIFY2(code == 0, out.constData());
        // The plug-in of this installation, not the one of the build tree.
        const QByteArray pluginLine = "Plug-in PCom_Core (" + QDir(installed).canonicalPath().toUtf8() + "/";
        QVERIFY2(out.startsWith(pluginLine), out.constData());
        QVERIFY(out.contains("/pcom/plugins/libPCom_Core.so)\n"));
        QVERIFY(out.contains("\ncom: COM port\n"));

        QVERIFY(runProcess(pcom, {QStringLiteral("open"), QStringLiteral("com"), QStringLiteral("speed=1")}, plain,
                           &out, &code));
        QCOMPARE(code, 2);
    }
}

QTEST_GUILESS_MAIN(tst_CliInstall)
#include "tst_cli_install.moc"
