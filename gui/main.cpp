#include "gui/MainWindow.h"
#include "gui/TerminationWatch.h"
#include "hostlib/PluginHost.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace {
// Long enough for loopback links of a workspace to connect and the layout to settle.
const int settleMs = 700;
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pcom-gui"));
    QApplication::setApplicationVersion(QStringLiteral(PCOM_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("pcom-gui"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A desktop host of the communication plug-in: its devices as a tree, the ports' properties, "
        "a terminal per port, the log and the help pages."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption plugin(QStringLiteral("plugin"), QStringLiteral("Load the plug-in from FILE."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save a picture of the window to FILE (PNG) once it has "
                                                       "settled, and exit."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption workspace(QStringLiteral("workspace"),
                                       QStringLiteral("Open the workspace FILE and its ports without asking."),
                                       QStringLiteral("FILE"));
    parser.addOptions({plugin, screenshot, workspace});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A workspace to open."), QStringLiteral("[FILE]"));
    parser.process(app);

    const bool headless = parser.isSet(screenshot);
    PluginHost host;
    QString error;
    if (!host.load(parser.value(plugin), &error)) {
        std::fprintf(stderr, "pcom-gui: %s\n", qPrintable(error));
        if (!headless)
            QMessageBox::critical(nullptr, QStringLiteral("pcom-gui"), error);
        return 1;
    }

    int status = 0;
    {
        MainWindow window(host.plugin());
        // A termination signal quits in order: ports closed, log files written out.
        TerminationWatch watch;
        QObject::connect(&watch, &TerminationWatch::terminationRequested, &window, &MainWindow::quitNow);
        QString file = parser.value(workspace);
        if (file.isEmpty() && !parser.positionalArguments().isEmpty())
            file = parser.positionalArguments().first();
        window.show();
        const bool opened = file.isEmpty() || window.openWorkspace(file, false);
        if (headless) {
            QTimer::singleShot(settleMs, &window, [&] {
                const bool saved = window.grab().save(parser.value(screenshot), "PNG");
                if (!saved)
                    std::fprintf(stderr, "pcom-gui: cannot write %s\n", qPrintable(parser.value(screenshot)));
                QApplication::exit(saved && opened ? 0 : 1);
            });
        }
        status = app.exec();
    }
    return status;
}
