#pragma once

#include <QStringList>

// pcom bridge TYPE [NAME=VALUE ...] -- TYPE [NAME=VALUE ...]: opens two
// ports and relays between them in both directions (see Bridge).
class BridgeCommand
{
public:
    // `arguments`: the program name, the command word, the rest.
    static int run(const QStringList &arguments);
};
