#pragma once

#include "cli/PropertyAssigner.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class PluginHost;
class PortHandle;

// A port as the command line describes it: the type key and the NAME=VALUE
// settings in the order given.
class PortRequest
{
public:
    QString typeKey;
    QList<PropertyAssigner::Assignment> assignments;

    // TYPE followed by NAME=VALUE words.
    static PortRequest fromWords(const QStringList &words);

    // Creates the port. Null, with a one-line reason, for an unknown type.
    std::unique_ptr<PortHandle> create(PluginHost &host, QString *error) const;
    // Writes the defaults and the settings; nothing is opened. False, with a
    // one-line reason, on bad input.
    bool configure(PortHandle &handle, QString *error) const;

    // Writes "connect" = true; false when it reads back false.
    static bool open(PortHandle &handle);
};
