#pragma once

#include "hostlib/TelnetParser.h"

#include <QByteArray>

class PCom_SerialLine;

// The serial-server end of one Telnet connection with the COM port control
// option (RFC 2217), with no socket of its own: bytes from the client go in,
// data for the line and the answers for the client come out. The line is a
// serial port's PCom_SerialLine face; what it refuses is answered with the
// value in force.
//
// Negotiation (RFC 854/855): BINARY (0), SUPPRESS-GO-AHEAD (3) and
// COM-PORT-OPTION (44) are taken both ways, and offered when a client comes;
// any other option is refused (DO x -> WONT x, WILL x -> DONT x). A request
// that matches the state in force, or answers our own offer, gets no reply,
// so that two ends never loop.
//
// COM-PORT-OPTION, IAC SB 44 <code> <value...> IAC SE. The client's codes and
// the server's answers (code + 100), each carrying the value in force after
// the request was tried; value 0 asks without changing:
//   0 SIGNATURE        empty asks for ours, text is the client's own
//   1 SET-BAUDRATE     4 bytes, network order
//   2 SET-DATASIZE     5..8
//   3 SET-PARITY       1 none, 2 odd, 3 even, 4 mark, 5 space
//   4 SET-STOPSIZE     1 one, 2 two, 3 one and a half
//   5 SET-CONTROL      1/2/3 no, XON/XOFF, hardware flow control (0 asks);
//                      5/6 break on/off (4 asks); 8/9 DTR on/off (7 asks);
//                      11/12 RTS on/off (10 asks); 14/15/16 inbound flow
//                      control, the same as outbound here (13 asks)
//   6 NOTIFY-LINESTATE  / 7 NOTIFY-MODEMSTATE: from a client, a poll
//   8 FLOWCONTROL-SUSPEND / 9 FLOWCONTROL-RESUME: hold data for the client back
//  10 SET-LINESTATE-MASK / 11 SET-MODEMSTATE-MASK: which changes are told
//  12 PURGE-DATA       1 received, 2 unsent, 3 both
// The server tells line state changes (106: 0x40 transmitter empty, 0x20
// holding register empty; the error bits are never seen here) and modem
// state changes (107: 0x80 DCD, 0x40 RI, 0x20 DSR, 0x10 CTS, the low
// nibble their deltas) under the masks (by default none and all). The modem
// state is also told unasked once the option is agreed and whenever the
// client sets its modem state mask. A line without modem lines (a
// pseudo-terminal) has none of them up (0); it cannot refuse DTR or RTS, nor
// tell them: it answers with what this client last asked.
class Rfc2217Session
{
public:
    explicit Rfc2217Session(PCom_SerialLine *line);

    // A client came: the negotiation starts over; returns our offers.
    QByteArray start();
    // Bytes from the client: returns the data for the line and appends the
    // answers for the client to *replies.
    QByteArray takeFromClient(const char *data, int size, QByteArray *replies);
    // Bytes from the line, ready for the client.
    static QByteArray toClient(const char *data, int size) { return TelnetParser::escape(data, size); }
    // The notices due since the last call, given whether the line has sent
    // everything.
    QByteArray notices(bool transmitterEmpty);
    // The client took the COM port option with a mask that lets some state
    // through: the line is worth looking at for it.
    bool wantsNotices() const;
    // The client asked us to hold its data back.
    bool isSuspended() const { return m_suspended; }

    static constexpr quint8 comPortOption = 44;

private:
    enum class Side { No, WantYes, Yes };

    void negotiate(quint8 command, quint8 option, QByteArray *replies);
    void comPort(const QByteArray &payload, QByteArray *replies);
    QByteArray control(quint8 value);
    quint8 lineState(bool transmitterEmpty) const;
    int modemState() const;
    QByteArray modemStateNow();
    bool comPortAgreed() const;
    static int optionIndex(quint8 option);

    PCom_SerialLine *m_line;
    TelnetParser m_parser;
    Side m_us[3] = {Side::No, Side::No, Side::No};
    Side m_him[3] = {Side::No, Side::No, Side::No};
    quint8 m_lineMask = 0;
    quint8 m_modemMask = 0xff;
    int m_lastLineState = -1;
    int m_lastModemState = -1;
    bool m_dtrAsked = true;
    bool m_rtsAsked = true;
    bool m_suspended = false;
};
