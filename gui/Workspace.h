#pragma once

#include <QString>
#include <QStringList>

class Workbench;

// A workspace file: the ports, their property values and whether each was
// open, as JSON. Opening one replaces the ports; what cannot be restored (a
// device or property that is gone, a value refused, a link that does not
// open) is listed and the rest is restored.
class Workspace
{
public:
    static bool save(const Workbench &bench, const QString &fileName, QString *error);
    // False, with a one-line reason and nothing changed, when the file is no
    // workspace; otherwise true, with what was left out in *problems.
    static bool open(Workbench &bench, const QString &fileName, QString *error, QStringList *problems);
};
