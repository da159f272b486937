#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// Turns what arrives on standard input into what is written to a port:
// the bytes unchanged, one write per line of hex digits, or one CAN frame
// per cansend line. A malformed line is reported with its number and left
// out; the rest goes on. No event loop needed.
class InputDecoder
{
public:
    enum Mode {
        Raw,
        Hex,
        Frames,
    };

    struct Item {
        QByteArray data;
        quint32 frameId = 0;
        qint64 line = 0; // 0 in raw mode
    };

    struct Problem {
        qint64 line;
        QString message;
    };

    // Longest line taken; a longer one is reported and skipped.
    static const int maxLineLength = 64 * 1024;

    explicit InputDecoder(Mode mode);

    Mode mode() const { return m_mode; }
    void feed(const QByteArray &bytes, QList<Item> *items, QList<Problem> *problems);
    // The input ended: a last line without a line end still counts.
    void finish(QList<Item> *items, QList<Problem> *problems);

private:
    void takeLine(const QByteArray &line, QList<Item> *items, QList<Problem> *problems);

    Mode m_mode;
    QByteArray m_partial;
    qint64 m_lineNumber = 0;
    bool m_skippingLongLine = false;
};
