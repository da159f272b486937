#pragma once

#include <QString>
#include <QStringList>

class TavlinProperty;
class Version;

// pcom props TYPE [--host-version V]: the property records of a new port of
// that kind.
class PropsCommand
{
public:
    // `arguments`: the program name, the command word, the rest.
    static int run(const QStringList &arguments);

    // "from 2.12", "up to 2.10", "2.12 to 2.20" or "all versions".
    static QString versionRange(const TavlinProperty *record);
};
