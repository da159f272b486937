#include "cli/CommonOptions.h"

#include "cli/LogPrinter.h"
#include "cli/PluginHost.h"

#include <QCoreApplication>
#include <QDir>

QCommandLineOption CommonOptions::plugin()
{
    return QCommandLineOption(QStringList{QStringLiteral("plugin")},
                              QStringLiteral("The plug-in file to load (default: found next to pcom, "
                                             "where it is installed, or in the build tree)."),
                              QStringLiteral("FILE"));
}

QCommandLineOption CommonOptions::quiet()
{
    return QCommandLineOption(QStringList{QStringLiteral("q"), QStringLiteral("quiet")},
                              QStringLiteral("Leave out trace and progress log lines."));
}

QCommandLineOption CommonOptions::hostVersion()
{
    return QCommandLineOption(QStringList{QStringLiteral("host-version")},
                              QStringLiteral("Only the properties that host version V supports, e.g. 2.12."),
                              QStringLiteral("V"));
}

bool CommonOptions::parse(QCommandLineParser &parser, const QStringList &arguments)
{
    const QCommandLineOption help = parser.addHelpOption();
    if (!parser.parse(arguments)) {
        LogPrinter::print(QStringLiteral("error"), parser.errorText());
        return false;
    }
    if (parser.isSet(help))
        parser.showHelp(0);
    return true;
}

bool CommonOptions::loadPlugin(PluginHost &host, const QCommandLineParser &parser)
{
    QString error;
    if (!host.load(parser.value(plugin()), defaultPluginFiles(), &error)) {
        LogPrinter::print(QStringLiteral("error"), error);
        return false;
    }
    return true;
}

QStringList CommonOptions::defaultPluginFiles()
{
    const QString name = QStringLiteral(PCOM_PLUGIN_FILE_NAME);
    const QDir here(QCoreApplication::applicationDirPath());
    QStringList files;
    files << here.filePath(name)
          << here.filePath(QStringLiteral("plugins/") + name)
          << QDir::cleanPath(here.filePath(QStringLiteral(PCOM_PLUGIN_DIR_FROM_BINDIR "/") + name))
          << QStringLiteral(PCOM_BUILD_PLUGIN_FILE)
          << QStringLiteral(PCOM_INSTALLED_PLUGIN_FILE);
    files.removeDuplicates();
    return files;
}
