#pragma once

#include "hostlib/FrameSession.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstdint>
#include <functional>

// What a parser and a session of one protocol make of the pieces a client
// sends: the commands, the session's greeting and replies, the frames for
// the bus (valid classic frames, each as `shown` writes it after its own
// checks), then what the session sends of a bus frame in the state it
// ended in.
template <typename Parser>
QByteArray sessionRun(FrameSession &session, const QByteArrayList &pieces,
                      const std::function<QByteArray(const QCanBusFrame &)> &shown)
{
    Parser parser;
    QByteArray commandText;
    QByteArray out = session.greeting();
    QByteArray frameText;
    for (const QByteArray &piece : pieces) {
        QList<typename Parser::Command> commands;
        QList<QCanBusFrame> frames;
        parser.feed(piece.constData(), piece.size(), &commands);
        for (const auto &command : commands)
            commandText += QByteArray::number(int(command.kind)) + command.text.toLatin1() + '\n';
        out += session.take(piece.constData(), piece.size(), &frames);
        for (const QCanBusFrame &frame : frames) {
            check(frame.isValid() && frame.payload().size() <= 8);
            frameText += shown(frame);
        }
    }
    QCanBusFrame frame(0x123, "data");
    frame.setTimeStamp(QCanBusFrame::TimeStamp(1, 2));
    return commandText + out + frameText + session.give(frame);
}

// Cut anywhere (where the input's first byte says), the input gives what
// it gives whole.
inline int checkCutAnywhere(const uint8_t *bytes, size_t size,
                            const std::function<QByteArray(const QByteArrayList &)> &run)
{
    const QByteArray input(reinterpret_cast<const char *>(bytes), int(size));
    const int cut = input.isEmpty() ? 0 : uchar(input.at(0)) % (input.size() + 1);
    check(run({input}) == run({input.left(cut), input.mid(cut)}));
    return 0;
}
