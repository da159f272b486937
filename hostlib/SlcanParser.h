#pragma once

#include <QByteArray>
#include <QCanBusFrame>
#include <QList>
#include <QString>

// Splits what an SLCAN (Lawicel) client sends into its commands, one per
// line ended by CR, in the order they came; input arrives in pieces cut
// anywhere. LF and empty lines are skipped (tools send CRs to clear a line).
//   O, L, C         Open, ListenOnly, Close
//   Sn              Bitrate, number: n from 0 (10 kbit/s) to 8 (1 Mbit/s)
//   tIIIL DD...     Frame: a base frame, 3 hex digits of identifier, the
//                   length 0..8, that many bytes as 2 hex digits each
//   TIIIIIIIIL DD.. Frame: an extended frame, 8 digits of identifier
//   rIIIL, RIIIIIIIIL  Frame: remote requests
//   F, V, N         Status, Version, Serial
//   Zn              Timestamps, number: 0 off, 1 on
// Anything else, and a line longer than maxLine (consumed to its CR, so that
// it costs no memory), arrives as Invalid, text: why.
class SlcanParser
{
public:
    enum class Kind { Open, ListenOnly, Close, Bitrate, Frame, Status, Version, Serial, Timestamps, Invalid };

    struct Command {
        Kind kind;
        QCanBusFrame frame;
        int number = 0;
        QString text;
    };

    // The longest line: an extended frame with 8 bytes and a timestamp.
    static constexpr int maxLine = 32;

    void feed(const char *data, int size, QList<Command> *commands);

    // The line (CR included) that carries a bus frame to a client; with
    // `stampMs` >= 0, the 4 hex digits of a timestamp (milliseconds within
    // the minute) follow the data. Empty for what SLCAN cannot carry (error
    // and flexible data-rate frames).
    static QByteArray format(const QCanBusFrame &frame, int stampMs = -1);

private:
    static Command parse(const QByteArray &line);

    QByteArray m_line;
    bool m_overlong = false;
};
