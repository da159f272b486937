#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// Splits a Telnet byte stream (RFC 854/855) into data and commands, in the
// order they came. Input arrives in pieces cut anywhere, an IAC included.
//
// On the wire, 0xFF (IAC) starts a command; everything else is data:
//   IAC IAC                 one data byte 0xFF
//   IAC WILL|WONT|DO|DONT x option negotiation for option x
//   IAC SB x ... IAC SE     subnegotiation of option x; inside, IAC IAC is
//                           one 0xFF of the payload
//   IAC other               a lone command (NOP, BRK, AYT, ...)
// A subnegotiation longer than maxPayload keeps being consumed to its IAC SE
// but arrives marked overlong with its payload cut, so that an endless one
// costs no memory. An IAC inside it followed by anything but IAC or SE ends
// it as truncated (dropped), and that command is taken as it stands.
class TelnetParser
{
public:
    enum Byte : quint8 {
        SE = 240,
        NOP = 241,
        SB = 250,
        WILL = 251,
        WONT = 252,
        DO = 253,
        DONT = 254,
        IAC = 255,
    };

    enum class Kind {
        Data,            // bytes: the data
        Negotiation,     // command: WILL/WONT/DO/DONT, option
        Subnegotiation,  // option, bytes: the payload after the option byte
        Command,         // command: any other command byte
    };

    struct Item {
        Kind kind;
        quint8 command;
        quint8 option;
        QByteArray bytes;
        bool overlong;
    };

    static constexpr int maxPayload = 256;

    // Appends what `data` completes to *items; neighbouring data is merged.
    void feed(const char *data, int size, QList<Item> *items);
    // Forgets a half-read command (a new connection starts clean).
    void reset();

    // Data made ready for the wire: every 0xFF doubled.
    static QByteArray escape(const char *data, int size);

private:
    enum class State { Data, Iac, Option, SbOption, SbData, SbIac };

    void takeIac(quint8 byte, QList<Item> *items);
    void appendPayload(quint8 byte);

    State m_state = State::Data;
    quint8 m_command = 0;
    quint8 m_option = 0;
    QByteArray m_payload;
    bool m_overlong = false;
};
