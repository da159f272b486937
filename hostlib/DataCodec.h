#pragma once

#include <QByteArray>
#include <QCanBusFrame>
#include <QList>
#include <QString>
#include <QtGlobal>

// The text forms in which a host shows and takes a port's data, both ways:
// - Raw: the bytes unchanged;
// - Hex: a "hexdump -C" style dump out, one write per line of hex digits in;
// - Frames: one "ID#HEXDATA" line per CAN frame out, one frame per cansend
//   line in.
// Input arrives in pieces cut anywhere; a malformed line is reported with
// its number and left out, the rest goes on. No event loop needed.
class DataCodec
{
public:
    enum Mode {
        Raw,
        Hex,
        Frames,
    };

    struct Item {
        QByteArray data;     // Raw and Hex
        QCanBusFrame frame;  // Frames
        qint64 line = 0;     // 0 in raw mode
    };

    struct Problem {
        qint64 line;
        QString message;
    };

    // Longest line taken; a longer one is reported and skipped.
    static const int maxLineLength = 64 * 1024;

    explicit DataCodec(Mode mode);

    Mode mode() const { return m_mode; }

    // Input: what is to be written to the port.
    void feed(const QByteArray &bytes, QList<Item> *items, QList<Problem> *problems);
    // The input ended: a last line without a line end still counts.
    void finish(QList<Item> *items, QList<Problem> *problems);

    // Output: what a stream port read, as text (the dump's offsets run on
    // over every call; frames have the forms of CanLineParser).
    QByteArray encode(const QByteArray &data);

private:
    void takeLine(const QByteArray &line, QList<Item> *items, QList<Problem> *problems);

    Mode m_mode;
    QByteArray m_partial;
    qint64 m_lineNumber = 0;
    bool m_skippingLongLine = false;
    qint64 m_outputOffset = 0;
};
