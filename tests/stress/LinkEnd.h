#pragma once

#include "tests/stress/StreamTransfer.h"

#include <functional>

class Plugin_Com_Port;
class QIODevice;

// One end of a link under test, for StreamTransfer: how to write to it, how
// to read from it, and how to hear that bytes arrived.
struct LinkEnd {
    StreamTransfer::Writer write;
    StreamTransfer::Reader read;
    // Makes the end's arrival signal pump the transfer.
    std::function<void(StreamTransfer *)> wake;

    // A port, through its raw byte operations and its readyRead().
    static LinkEnd port(Plugin_Com_Port *port);
    // A socket or any other QIODevice of the test.
    static LinkEnd device(QIODevice *device);
};
