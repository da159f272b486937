#pragma once

#include <QByteArray>
#include <QCanBusFrame>
#include <QList>
#include <QString>

// Splits what a socketcand client sends into its commands, in the order they
// came. Input arrives in pieces cut anywhere. Each command is one message in
// angle brackets, words separated by blanks; blanks between messages are
// skipped:
//   < open NAME >            Open, text: the bus name
//   < rawmode >, < bcmmode >, < controlmode >, < echo >
//   < send ID LEN DATA... >  Send, frame: ID in hex, extended when it has 8
//                            digits (or is beyond 7FF, which no base frame
//                            carries); LEN hex 0..8; as many bytes of one or
//                            two hex digits
//   < sendrtr ID LEN >       Send, frame: a remote request
//   < statistics MS >        Statistics, number: the interval (0: off)
//   < WORD ... >             Unknown, text: WORD
// Bad arguments, text outside the brackets and a message longer than
// maxMessage (consumed to its '>', so that it costs no memory) arrive as
// Malformed, text: why.
class SocketcandParser
{
public:
    enum class Kind { Open, RawMode, BcmMode, ControlMode, Echo, Send, Statistics, Unknown, Malformed };

    struct Command {
        Kind kind;
        QString text;
        QCanBusFrame frame;
        qint64 number = 0;
    };

    static constexpr int maxMessage = 256;

    void feed(const char *data, int size, QList<Command> *commands);

    // The message that carries a bus frame to a client in raw mode:
    // < frame ID SECS.USECS DATA >, < rtr ID SECS.USECS LEN >, or
    // < error CLASS SECS.USECS DATA > for an error frame. IDs of extended
    // frames have 8 digits; the data is one field of hex digit pairs.
    static QByteArray format(const QCanBusFrame &frame);

private:
    static Command parse(const QByteArray &message);

    QByteArray m_message;
    bool m_inside = false;
    bool m_overlong = false;
    bool m_stray = false;
};
