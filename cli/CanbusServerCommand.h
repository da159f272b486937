#pragma once

#include <QStringList>

// pcom canbus-server [PORT]: runs the relay of Qt's virtual CAN bus on a
// loopback port and nothing else, until SIGINT or SIGTERM. The relay lives
// in the process of the first program that opened a virtualcan device on
// that port, and goes down with it, taking the bus with it for every other
// program; run here, the bus outlives any one pcom open or bridge. The
// relay's own device is read and what it reads is dropped.
class CanbusServerCommand
{
public:
    // `arguments`: the program name, the command word, the rest.
    static int run(const QStringList &arguments);

    static const int defaultPort = 35468;
};
