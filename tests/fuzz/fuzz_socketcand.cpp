// libFuzzer target: the socketcand parser and a session on whatever a client
// sends. Cut anywhere, the input gives the same commands, replies and frames;
// the frames for the bus are valid classic frames; memory stays bounded by
// the longest message.

#include "hostlib/SocketcandSession.h"
#include "tests/fuzz/SessionRun.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    return checkCutAnywhere(bytes, size, [](const QByteArrayList &pieces) {
        SocketcandSession session(QStringLiteral("can0"));
        return sessionRun<SocketcandParser>(session, pieces,
                                            [](const QCanBusFrame &frame) { return frame.toString().toLatin1(); });
    });
}
