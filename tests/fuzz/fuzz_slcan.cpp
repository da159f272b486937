// libFuzzer target: the SLCAN line parser and a session on whatever a client
// sends. Cut anywhere, the input gives the same commands, replies and
// frames; every frame for the bus is a valid classic frame whose own line
// parses back to it.

#include "hostlib/SlcanSession.h"
#include "tests/fuzz/SessionRun.h"

namespace {

QByteArray lineOf(const QCanBusFrame &frame)
{
    const QByteArray line = SlcanParser::format(frame);
    SlcanParser again;
    QList<SlcanParser::Command> parsed;
    again.feed(line.constData(), line.size(), &parsed);
    check(parsed.size() == 1 && parsed[0].frame.toString() == frame.toString()
          && parsed[0].frame.hasExtendedFrameFormat() == frame.hasExtendedFrameFormat());
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    return checkCutAnywhere(bytes, size, [](const QByteArrayList &pieces) {
        SlcanSession session;
        return sessionRun<SlcanParser>(session, pieces, lineOf);
    });
}
