#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

class PluginHost;

// Options and steps that every command shares.
class CommonOptions
{
public:
    static QCommandLineOption plugin();
    static QCommandLineOption quiet();
    static QCommandLineOption hostVersion();

    // Parses `arguments` (program name first). On --help prints the help and
    // exits 0; on an error prints it and returns false.
    static bool parse(QCommandLineParser &parser, const QStringList &arguments);

    // Loads the plug-in named by --plugin, or the first found of the
    // default places. Prints the reason and returns false on failure.
    static bool loadPlugin(PluginHost &host, const QCommandLineParser &parser);

    // Where the plug-in is looked for when --plugin is not given: next to
    // the program, where it is installed relative to the program, in the
    // build tree, and at the install prefix.
    static QStringList defaultPluginFiles();
};
