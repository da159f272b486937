#pragma once

#include <QByteArray>
#include <QString>

// Hexadecimal text for bytes, both ways. Pure functions: usable without an
// event loop, from unit tests and fuzz targets.
class HexCodec
{
public:
    // Upper-case digit pairs without separators: "DEADBEEF".
    static QByteArray encode(const QByteArray &data);

    // Reads digit pairs. Blanks and tabs may separate bytes, and each blank-
    // separated group may start with "0x". False, with the reason in *error,
    // when a character is no hex digit or a group has an odd digit count.
    static bool decode(const QByteArray &text, QByteArray *out, QString *error);

    // Lines in the style of "hexdump -C": offset, up to 16 bytes in hex and
    // the printable characters. offset is the position of data's first byte
    // in the whole stream.
    static QByteArray dump(const QByteArray &data, qint64 offset);

    // Text with the escapes of the session log (\r, \n, \t, \\, \xNN) as
    // bytes, UTF-8 for the rest; false for a broken escape.
    static bool unescape(const QString &text, QByteArray *out);

    // 0..15 for a hex digit, -1 for anything else.
    static int digitValue(char c);
};
