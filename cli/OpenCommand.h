#pragma once

#include <QStringList>

// pcom open TYPE [NAME=VALUE ...] [options]: creates a port, writes its
// properties in the order given, opens it and relays standard input and
// output through it: a Bridge between the port and StdioEndpoint.
class OpenCommand
{
public:
    // `arguments`: the program name, the command word, the rest.
    static int run(const QStringList &arguments);
};
