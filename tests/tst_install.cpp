#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// cmake --install puts pcom, pcom-gui, the host library, the plug-in, the
// manual page, the bash completion and the desktop entry in place, and the
// installed programs find their plug-in and private libraries there: under a
// prefix chosen at install time and under a DESTDIR staging directory.
class tst_Install : public QObject
{
    Q_OBJECT
private slots:
    void installedProgramsFindTheirPlugin();
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

void tst_Install::installedProgramsFindTheirPlugin()
{
    QTemporaryDir root;
    const QString prefix = root.filePath(QStringLiteral("prefix"));
    const QString stage = root.filePath(QStringLiteral("stage"));
    QByteArray out;
    QVERIFY2(run(PCOM_CMAKE_COMMAND, {"--install", PCOM_BUILD_DIR, "--prefix", prefix}, &out) == 0, out.constData());
    QVERIFY2(run(PCOM_CMAKE_COMMAND, {"--install", PCOM_BUILD_DIR}, &out, stage) == 0, out.constData());

    for (const QString &installed : {prefix, stage + QStringLiteral(PCOM_INSTALL_PREFIX)}) {
        QVERIFY2(run(installed + QStringLiteral("/bin/pcom"), {"devices"}, &out) == 0, out.constData());
        // The plug-in of this installation, not the one of the build tree.
        const QByteArray here = "Plug-in PCom_Core (" + QDir(installed).canonicalPath().toUtf8() + "/";
        QVERIFY2(out.startsWith(here), out.constData());
        QVERIFY(out.contains("/pcom/plugins/libPCom_Core.so)\n") && out.contains("\ncom: COM port\n"));
        QVERIFY(QFileInfo(installed + QStringLiteral("/share/man/man1/pcom.1.gz")).size() > 1000);
        QVERIFY(QFileInfo::exists(installed + QStringLiteral("/lib/systemd/system/pcom-serve@.service")));
    }

    // The completion asks the installed pcom (with the plug-in given before
    // the command): commands, types, properties and their options and words
    // ("any"), option choices, the options of the port types named;
    // NAME=VALUE is one word although bash breaks words at '='.
    const QString complete = QStringLiteral(
        "source %1/share/bash-completion/completions/pcom; for line in \"$@\"; do "
        "COMP_LINE=$line; COMP_POINT=${#line}; COMP_WORDS=($line); [[ $line == *' ' ]] && COMP_WORDS+=(''); "
        "[[ $line == *= ]] && COMP_WORDS+=('='); [[ $line == *=?* ]] && COMP_WORDS+=(${line##*=}); "
        "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _pcom; echo \"${COMPREPLY[*]}\"; done").arg(prefix);
    const QString pcom = prefix + QStringLiteral("/bin/pcom ");
    QCOMPARE(run(QStringLiteral("bash"),
                 {"-c", complete, "-", pcom + "br", pcom + "open ", pcom + "open com ba",
                  pcom + "open com baudrate=11520", pcom + "bridge com -- tcpServer p", pcom + "open com --parity e",
                  pcom + "open com --st", pcom + "--plugin " + PCOM_PLUGIN_FILE + " open ",
                  pcom + "open tcpServer address=a", pcom + "open com --ca", pcom + "bridge com -- tcpServer --c",
                  pcom + "open canBus --timestamp=r", pcom + "--ver"},
                 &out),
             0);
    QCOMPARE(out, QByteArray("bridge\ncom canBus tcpServer tcpClient udpClient\nbaudrate=\n115200 1152000\nport=\n"
                             "even\n--stop-bits\ncom canBus tcpServer tcpClient udpClient\nany\n\n--clients\n"
                             "relative\n--version\n"));
    if (!PCOM_WITH_GUI)
        return;

    // pcom-gui opens a workspace given on its command line and saves a
    // picture of its window headless; a bad workspace is reported, status 1.
    QSettings entry(prefix + QStringLiteral("/share/applications/pcom-gui.desktop"), QSettings::IniFormat);
    QCOMPARE(entry.value(QStringLiteral("Desktop Entry/Exec")).toString(), QStringLiteral("pcom-gui %f"));
    QCOMPARE(entry.value(QStringLiteral("Desktop Entry/Icon")).toString(), QStringLiteral("pcom-gui"));
    QVERIFY(QFileInfo::exists(prefix + QStringLiteral("/share/icons/hicolor/scalable/apps/pcom-gui.svg")));
    const QString gui = prefix + QStringLiteral("/bin/pcom-gui");
    const QString picture = root.filePath(QStringLiteral("window.png"));
    const QString workspace = root.filePath(QStringLiteral("w.json"));
    QFile file(workspace);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(R"({"format": "pcom-gui workspace", "ports": [{"type": "udpClient", "properties": {"port": "40007"}}]})") > 0);
    file.close();
    QVERIFY2(run(gui, {"--screenshot", picture, workspace}, &out) == 0, out.constData());
    QVERIFY(QImage(picture).width() >= 800 && QImage(picture).height() >= 500);
    QVERIFY(QFile::resize(workspace, 20));
    QCOMPARE(run(gui, {"--screenshot", picture, "--workspace", workspace}, &out), 1);
    QVERIFY2(out.contains(workspace.toUtf8() + " is not a workspace: it is no JSON"), out.constData());
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
