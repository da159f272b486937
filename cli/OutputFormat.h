#pragma once

#include "hostlib/CanLineParser.h"
#include "hostlib/NewlineMap.h"

#include <QByteArray>
#include <QCanBusFrame>
#include <QElapsedTimer>
#include <QList>

#include <functional>

// How pcom shows what a port read: bytes as they are or as a hex dump (with
// the received line-end translations), CAN frames as cansend or candump
// lines (filtered), and with --timestamp each line of text, each dump chunk
// or each frame led by its time of arrival: "[12:00:01.250] ", or
// "(...) " in the candump form, which always shows a time (by default the
// epoch one, as candump's). A line is stamped
// when its first byte arrives, so the lines of one read after the first
// show no delta of their own.
class OutputFormat
{
public:
    enum class Stamp { None, Absolute, Delta, Relative, Epoch };
    enum class FrameForm { Cansend, Candump };

    OutputFormat();
    OutputFormat(const OutputFormat &) = delete;
    OutputFormat &operator=(const OutputFormat &) = delete;

    // "absolute" (the date and time of day), "delta" (seconds since the
    // last stamp), "relative" (seconds since the start) or "epoch" (seconds
    // since 1970 with microseconds, as candump's).
    static bool parseStamp(const QString &text, Stamp *stamp);
    // The moment now as an absolute stamp, as in the session log.
    static QByteArray wallClock();
    static qint64 epochMicroseconds();

    void setStamp(Stamp stamp) { m_stamp = stamp; }
    // Milliseconds since the start for the delta and relative stamps (a
    // steady clock of the object's own unless set).
    void setClock(std::function<qint64()> msSinceStart) { m_now = std::move(msSinceStart); }
    void setHex(bool hex) { m_hex = hex; }
    bool isHex() const { return m_hex; }
    void setMap(const NewlineMap &map) { m_map = map; }
    void setFrameForm(FrameForm form, const QByteArray &interfaceName);
    void setFilters(const QList<CanLineParser::Filter> &filters) { m_filters = filters; }

    QByteArray bytes(const QByteArray &data);
    // Empty for a frame that the filters leave out.
    QByteArray frame(const QCanBusFrame &frame);

private:
    QByteArray stampText(Stamp stamp);

    Stamp m_stamp = Stamp::None;
    bool m_hex = false;
    NewlineMap m_map;
    FrameForm m_frameForm = FrameForm::Cansend;
    QByteArray m_interface;
    QList<CanLineParser::Filter> m_filters;
    qint64 m_dumpOffset = 0;
    bool m_atLineStart = true;
    QElapsedTimer m_clock;
    std::function<qint64()> m_now;
    qint64 m_lastStampMs = 0;
};
