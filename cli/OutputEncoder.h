#pragma once

#include <QByteArray>
#include <QtGlobal>

// Turns what a port read into what goes to standard output: the bytes
// unchanged, a hex dump, or one "ID#HEXDATA" line per CAN frame.
class OutputEncoder
{
public:
    enum Mode {
        Raw,
        Hex,
        Frames,
    };

    explicit OutputEncoder(Mode mode);

    Mode mode() const { return m_mode; }
    QByteArray encode(const QByteArray &data, quint32 frameId);

private:
    Mode m_mode;
    qint64 m_offset = 0;
};
