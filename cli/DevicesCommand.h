#pragma once

#include <QStringList>

// pcom [devices]: every device of the plug-in with its type key, name,
// brief and what it can connect to now.
class DevicesCommand
{
public:
    // `arguments`: the program name, the command word, the rest.
    static int run(const QStringList &arguments);
};
