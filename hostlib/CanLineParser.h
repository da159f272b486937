#pragma once

#include <QByteArray>
#include <QCanBusFrame>
#include <QList>
#include <QString>
#include <QtGlobal>

// CAN frames as text lines in the notation of can-utils' cansend and candump:
//   123#DEADBEEF        base frame, 3 hex digits of identifier, up to 8 bytes
//   1F334455#11.22.33   extended frame, 8 hex digits ('00000123' is extended
//                       too), '.' may separate bytes
//   123#                no payload
//   123#R  123#R4       remote request, without or with its data length
//   123##1DEADBEEF...   flexible-data-rate frame: one flags digit (1: bit-rate
//                       switch, 2: error state indicator), up to 64 bytes
// Out in the same notation (error frames as "ERRORFRAME" and what they
// report), or in candump's "can0  123   [4]  DE AD BE EF". Receive filters
// in candump's notation: ID:MASK passes a frame when its identifier and the
// filter's agree on the mask's bits, ID~MASK (or ~ID:MASK) when they do not;
// an 8-digit ID matches extended frames only.
// Pure functions: usable without an event loop, from unit tests and fuzz targets.
class CanLineParser
{
public:
    struct Filter {
        quint32 id = 0;
        quint32 mask = 0;
        bool extendedOnly = false;
        bool inverted = false;
    };

    static const int maxClassicPayload = 8;
    static const int maxFlexiblePayload = 64;

    // Parses one line; blanks and a carriage return around it are ignored.
    // False, with the reason in *error, when the line is not a frame.
    static bool parse(const QByteArray &line, QCanBusFrame *frame, QString *error);

    // The cansend line of a frame, without a line end.
    static QByteArray format(const QCanBusFrame &frame);
    // The candump line of a frame on `interfaceName`, without time and line end.
    static QByteArray formatCandump(const QCanBusFrame &frame, const QByteArray &interfaceName);
    // What an error frame reports, in words ("bus off, controller restarted").
    static QByteArray errorWords(const QCanBusFrame &frame);

    // A record of candump's log (candump -L; canplayer replays it): the time
    // in seconds since the epoch with microseconds, the interface, the
    // frame's cansend line: "(1436509053.850870) vcan0 123#DEADBEEF". Empty
    // for an error frame, which has no cansend line to replay.
    static QByteArray formatLog(const QCanBusFrame &frame, const QByteArray &interfaceName, qint64 microseconds);
    // False, with the reason in *error, for a line that is no such record.
    static bool parseLog(const QByteArray &line, QCanBusFrame *frame, qint64 *microseconds, QString *error);

    static bool parseFilter(const QString &text, Filter *filter, QString *error);
    // Whether the frame passes any of the filters (every frame passes none).
    static bool passes(const QList<Filter> &filters, const QCanBusFrame &frame);
};
