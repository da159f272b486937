#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// cmake --install puts pcom, the host library, the plug-in, the manual page
// and the bash completion in place, and the installed pcom finds its plug-in
// there: under a prefix chosen at install time and under a DESTDIR staging
// directory.
class tst_CliInstall : public QObject
{
    Q_OBJECT
private slots:
    void installedPcomFindsItsPlugin();
};

// The exit status (-1 when it did not finish or crashed) and all output.
static int run(const QString &program, const QStringList &arguments, QByteArray *out, const QString &destDir = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!destDir.isEmpty())
        env.insert(QStringLiteral("DESTDIR"), destDir);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(60000);
    *out = process.readAllStandardOutput() + process.readAllStandardError();
    return finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void tst_CliInstall::installedPcomFindsItsPlugin()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString prefix = root.filePath(QStringLiteral("prefix"));
    const QString stage = root.filePath(QStringLiteral("stage"));
    QByteArray out;
    QVERIFY2(run(PCOM_CMAKE_COMMAND, {"--install", PCOM_BUILD_DIR, "--prefix", prefix}, &out) == 0, out.constData());
    QVERIFY2(run(PCOM_CMAKE_COMMAND, {"--install", PCOM_BUILD_DIR}, &out, stage) == 0, out.constData());

    for (const QString &installed : {prefix, stage + QStringLiteral(PCOM_INSTALL_PREFIX)}) {
        const QString pcom = installed + QStringLiteral("/bin/pcom");
        QVERIFY2(run(pcom, {"devices"}, &out) == 0, out.constData());
        // The plug-in of this installation, not the one of the build tree.
        const QByteArray here = "Plug-in PCom_Core (" + QDir(installed).canonicalPath().toUtf8() + "/";
        QVERIFY2(out.startsWith(here), out.constData());
        QVERIFY(out.contains("/pcom/plugins/libPCom_Core.so)\n") && out.contains("\ncom: COM port\n"));
        QCOMPARE(run(pcom, {"open", "com", "speed=1"}, &out), 2);
        QVERIFY(QFileInfo(installed + QStringLiteral("/share/man/man1/pcom.1.gz")).size() > 1000);
        QVERIFY(QFileInfo::exists(installed + QStringLiteral("/lib/systemd/system/pcom-serve@.service")));
    }

    // The completion asks the installed pcom: commands, types, properties and
    // their options, option choices; NAME=VALUE is one word although bash
    // breaks words at '='.
    const QString complete = QStringLiteral(
        "source %1/share/bash-completion/completions/pcom; for line in \"$@\"; do "
        "COMP_LINE=$line; COMP_POINT=${#line}; COMP_WORDS=($line); [[ $line == *' ' ]] && COMP_WORDS+=(''); "
        "[[ $line == *= ]] && COMP_WORDS+=('='); [[ $line == *=?* ]] && COMP_WORDS+=(${line##*=}); "
        "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _pcom; echo \"${COMPREPLY[*]}\"; done").arg(prefix);
    const QString pcom = prefix + QStringLiteral("/bin/pcom ");
    QCOMPARE(run(QStringLiteral("bash"),
                 {"-c", complete, "-", pcom + "br", pcom + "open ", pcom + "open com ba",
                  pcom + "open com baudrate=11520", pcom + "bridge com -- tcpServer p", pcom + "open com --parity e",
                  pcom + "open com --st"},
                 &out),
             0);
    QCOMPARE(out, QByteArray("bridge\ncom canBus tcpServer tcpClient udpClient\nbaudrate=\n115200 1152000\nport=\n"
                             "even\n--stop-bits\n"));
}

QTEST_GUILESS_MAIN(tst_CliInstall)
#include "tst_cli_install.moc"
