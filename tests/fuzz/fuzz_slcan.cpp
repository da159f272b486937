// libFuzzer target: the SLCAN line parser and a session on whatever a client
// sends. Cut anywhere, the input gives the same commands, replies and
// frames; every frame for the bus is a valid classic frame whose own line
// parses back to it.

#include "hostlib/SlcanSession.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstdint>

namespace {

QByteArray run(const QByteArrayList &pieces)
{
    SlcanParser parser;
    SlcanSession session;
    QByteArray commandText;
    QByteArray out;
    QByteArray frameText;
    for (const QByteArray &piece : pieces) {
        QList<SlcanParser::Command> commands;
        QList<QCanBusFrame> frames;
        parser.feed(piece.constData(), piece.size(), &commands);
        for (const SlcanParser::Command &command : commands)
            commandText += QByteArray::number(int(command.kind)) + command.text.toLatin1() + '\n';
        out += session.take(piece.constData(), piece.size(), &frames);
        for (const QCanBusFrame &frame : frames) {
            check(frame.isValid() && frame.payload().size() <= 8);
            const QByteArray line = SlcanParser::format(frame);
            SlcanParser again;
            QList<SlcanParser::Command> parsed;
            again.feed(line.constData(), line.size(), &parsed);
            check(parsed.size() == 1 && parsed[0].frame.toString() == frame.toString()
                  && parsed[0].frame.hasExtendedFrameFormat() == frame.hasExtendedFrameFormat());
            frameText += line;
        }
    }
    QCanBusFrame frame(0x123, "data");
    frame.setTimeStamp(QCanBusFrame::TimeStamp(1, 2));
    return commandText + out + frameText + session.give(frame);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(bytes), int(size));
    const int cut = input.isEmpty() ? 0 : uchar(input.at(0)) % (input.size() + 1);
    check(run({input}) == run({input.left(cut), input.mid(cut)}));
    return 0;
}
