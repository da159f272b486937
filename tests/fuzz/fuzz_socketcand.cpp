// libFuzzer target: the socketcand parser and a session on whatever a client
// sends. Cut anywhere, the input gives the same commands, replies and frames;
// the frames for the bus are valid classic frames; memory stays bounded by
// the longest message.

#include "hostlib/SocketcandSession.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstdint>

namespace {

// The commands, then the session's replies and frames, then what the
// session sends of a bus frame in the state it ended in.
QByteArray run(const QByteArrayList &pieces)
{
    SocketcandParser parser;
    SocketcandSession session(QStringLiteral("can0"));
    QByteArray commandText;
    QByteArray out = session.greeting();
    QByteArray frameText;
    for (const QByteArray &piece : pieces) {
        QList<SocketcandParser::Command> commands;
        QList<QCanBusFrame> frames;
        parser.feed(piece.constData(), piece.size(), &commands);
        for (const SocketcandParser::Command &command : commands)
            commandText += QByteArray::number(int(command.kind)) + command.text.toLatin1() + '\n';
        out += session.take(piece.constData(), piece.size(), &frames);
        for (const QCanBusFrame &frame : frames) {
            check(frame.isValid() && frame.payload().size() <= 8);
            frameText += frame.toString().toLatin1();
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
