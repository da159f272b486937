#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// CAN frames as text lines in the notation of can-utils' cansend and candump:
//   123#DEADBEEF        base frame, 3 hex digits of identifier, up to 8 bytes
//   1F334455#11.22.33   extended frame, 8 hex digits, '.' may separate bytes
//   123#                no payload
//   123##1DEADBEEF...   flexible-data-rate frame: one flags digit, up to 64 bytes
// Pure functions: usable without an event loop, from unit tests and fuzz targets.
class CanLineParser
{
public:
    struct Frame {
        quint32 id = 0;
        bool extended = false;
        bool flexibleDataRate = false;
        QByteArray payload;
    };

    static const int maxClassicPayload = 8;
    static const int maxFlexiblePayload = 64;

    // Parses one line; blanks and a carriage return around it are ignored.
    // False, with the reason in *error, when the line is not a frame.
    static bool parse(const QByteArray &line, Frame *frame, QString *error);

    // "ID#HEXDATA" (or "ID##0HEXDATA" for more than 8 bytes), without a line
    // end; the identifier has 3 hex digits up to 0x7FF and 8 above.
    static QByteArray format(quint32 id, const QByteArray &payload);
};
