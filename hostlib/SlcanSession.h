#pragma once

#include "hostlib/FrameSession.h"
#include "hostlib/SlcanParser.h"

// One SLCAN client of a served CAN bus, as a Lawicel adapter answers it:
// the channel starts closed; S0-S8 and Z0/Z1 are taken while it is closed,
// O (L: listen only) opens it, C closes it. While it is open the client is
// sent every bus frame (with the time when Z1 is on) and its t/T/r/R frames
// go to the bus, each acknowledged with z or Z. F tells the status flags
// that error frames set since the last F (error warning, passive, bus
// error, arbitration lost, overrun), V the version, N the serial number.
// Each answer ends with CR; what is refused, or not understood, gets BEL.
// The bit rate is the served port's own: S is taken and changes nothing.
class SlcanSession : public FrameSession
{
public:
    QByteArray take(const char *data, int size, QList<QCanBusFrame> *frames) override;
    QByteArray give(const QCanBusFrame &frame) override;

    static constexpr char refusal = '\a';

private:
    QByteArray answer(const SlcanParser::Command &command, QList<QCanBusFrame> *frames);

    SlcanParser m_parser;
    bool m_open = false;
    bool m_listenOnly = false;
    bool m_timestamps = false;
    quint8 m_status = 0;
};
