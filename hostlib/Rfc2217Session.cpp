#include "hostlib/Rfc2217Session.h"

#include "core/PCom_SerialLine.h"

#include <QSerialPort>

#include <climits>

namespace {
const quint8 kBinary = 0;
const quint8 kSuppressGoAhead = 3;
const quint8 kSupported[3] = {kBinary, kSuppressGoAhead, Rfc2217Session::comPortOption};
const quint8 kServerCode = 100;

enum Code : quint8 {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowSuspend = 8,
    FlowResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};

// Wire values in the order of the codes (value 1 first).
const char *const kParities[] = {"none", "odd", "even", "mark", "space"};
const char *const kStopSizes[] = {"1", "2", "1.5"};
const char *const kFlowControls[] = {"none", "xonxoff", "rtscts"};

QByteArray command(quint8 verb, quint8 option)
{
    QByteArray out(3, char(TelnetParser::IAC));
    out[1] = char(verb);
    out[2] = char(option);
    return out;
}

QByteArray subnegotiation(quint8 code, const QByteArray &value)
{
    QByteArray out;
    out.append(char(TelnetParser::IAC)).append(char(TelnetParser::SB)).append(char(Rfc2217Session::comPortOption));
    out.append(char(code + kServerCode));
    out.append(TelnetParser::escape(value.constData(), value.size()));
    out.append(char(TelnetParser::IAC)).append(char(TelnetParser::SE));
    return out;
}

QByteArray byte(int value)
{
    return QByteArray(1, char(quint8(value)));
}

// The 1-based position of the line's named setting in a wire table, 0 when
// it has none of them.
template <int N>
int wireValue(const char *const (&table)[N], const QString &name)
{
    for (int i = 0; i < N; ++i) {
        if (name == QLatin1String(table[i]))
            return i + 1;
    }
    return 0;
}

using NamedGetter = QString (PCom_SerialLine::*)() const;
using NamedSetter = bool (PCom_SerialLine::*)(const QString &, QString *);

// Tries a named setting given by its wire value (0 only asks) and returns
// the wire value in force.
template <int N>
int applyNamed(PCom_SerialLine *line, NamedGetter get, NamedSetter set, const char *const (&table)[N], int value)
{
    if (value >= 1 && value <= N)
        (line->*set)(QString::fromLatin1(table[value - 1]), nullptr);
    return wireValue(table, (line->*get)());
}
}

Rfc2217Session::Rfc2217Session(PCom_SerialLine *line)
    : m_line(line)
{
}

int Rfc2217Session::optionIndex(quint8 option)
{
    for (int i = 0; i < 3; ++i) {
        if (kSupported[i] == option)
            return i;
    }
    return -1;
}

QByteArray Rfc2217Session::start()
{
    m_parser.reset();
    m_suspended = false;
    m_lastLineState = -1;
    m_lastModemState = -1;
    QByteArray offers;
    for (int i = 0; i < 3; ++i) {
        m_us[i] = Side::WantYes;
        offers += command(TelnetParser::WILL, kSupported[i]);
        if (kSupported[i] != kSuppressGoAhead) {
            m_him[i] = Side::WantYes;
            offers += command(TelnetParser::DO, kSupported[i]);
        } else {
            m_him[i] = Side::No;
        }
    }
    return offers;
}

QByteArray Rfc2217Session::takeFromClient(const char *data, int size, QByteArray *replies)
{
    QList<TelnetParser::Item> items;
    m_parser.feed(data, size, &items);
    QByteArray forLine;
    for (const TelnetParser::Item &item : qAsConst(items)) {
        switch (item.kind) {
        case TelnetParser::Kind::Data:
            forLine += item.bytes;
            break;
        case TelnetParser::Kind::Negotiation:
            negotiate(item.command, item.option, replies);
            break;
        case TelnetParser::Kind::Subnegotiation:
            // Nothing we know runs that long: an overlong one is garbage.
            if (item.option == comPortOption && !item.overlong && !item.bytes.isEmpty())
                comPort(item.bytes, replies);
            break;
        case TelnetParser::Kind::Command:
            break;
        }
    }
    return forLine;
}

// The side's state moves only on a change, and only a change that we did not
// ask for is answered (RFC 854's rule against loops).
void Rfc2217Session::negotiate(quint8 verb, quint8 option, QByteArray *replies)
{
    const int index = optionIndex(option);
    const bool positive = verb == TelnetParser::WILL || verb == TelnetParser::DO;
    if (index < 0) {
        if (positive)
            *replies += command(verb == TelnetParser::WILL ? TelnetParser::DONT : TelnetParser::WONT, option);
        return;
    }
    // DO/DONT are about our side, WILL/WONT about the client's.
    const bool ours = verb == TelnetParser::DO || verb == TelnetParser::DONT;
    Side &side = ours ? m_us[index] : m_him[index];
    const quint8 yes = ours ? TelnetParser::WILL : TelnetParser::DO;
    const quint8 no = ours ? TelnetParser::WONT : TelnetParser::DONT;
    if (positive) {
        const bool agreed = comPortAgreed();
        if (side == Side::No)
            *replies += command(yes, option);
        side = Side::Yes;
        // The modem state mask starts at 255: a client that takes the option
        // has asked for every modem line, and learns where they stand now.
        if (!agreed && comPortAgreed())
            *replies += modemStateNow();
    } else {
        if (side == Side::Yes)
            *replies += command(no, option);
        side = Side::No;
    }
}

void Rfc2217Session::comPort(const QByteArray &payload, QByteArray *replies)
{
    const quint8 code = quint8(payload.at(0));
    // A client whose own offer was still unsent when ours came may take ours
    // as the answer and never send it (pySerial does): its first command is
    // its yes. Either way it hears the modem state before its first answer.
    if (m_him[2] == Side::WantYes)
        m_him[2] = Side::Yes;
    if (m_lastModemState < 0 && m_modemMask && comPortAgreed())
        *replies += modemStateNow();
    const QByteArray value = payload.mid(1);
    const int first = value.isEmpty() ? -1 : quint8(value.at(0));
    switch (code) {
    case Signature:
        if (value.isEmpty())
            *replies += subnegotiation(code, QByteArrayLiteral("pcom"));
        break;
    case SetBaudRate: {
        if (value.size() < 4)
            return;
        const quint32 rate = quint32(quint8(value[0])) << 24 | quint32(quint8(value[1])) << 16
                             | quint32(quint8(value[2])) << 8 | quint32(quint8(value[3]));
        if (rate > 0 && rate <= quint32(INT_MAX))
            m_line->setBaudRate(int(rate));
        const quint32 now = quint32(qMax(0, m_line->baudRate()));
        QByteArray answer(4, 0);
        for (int i = 0; i < 4; ++i)
            answer[i] = char(now >> (24 - 8 * i));
        *replies += subnegotiation(code, answer);
        break;
    }
    case SetDataSize:
        if (first < 0)
            return;
        if (first >= 5 && first <= 8)
            m_line->setDataBits(first);
        *replies += subnegotiation(code, byte(m_line->dataBits()));
        break;
    case SetParity:
        if (first >= 0) {
            const int parity =
                applyNamed(m_line, &PCom_SerialLine::parity, &PCom_SerialLine::setParity, kParities, first);
            *replies += subnegotiation(code, byte(parity));
        }
        break;
    case SetStopSize:
        if (first >= 0) {
            const int stop =
                applyNamed(m_line, &PCom_SerialLine::stopBits, &PCom_SerialLine::setStopBits, kStopSizes, first);
            *replies += subnegotiation(code, byte(stop));
        }
        break;
    case SetControl:
        if (first >= 0)
            *replies += subnegotiation(code, control(quint8(first)));
        break;
    case NotifyLineState:
        // What the last look saw (notices() looks while clients are there).
        *replies += subnegotiation(code, byte(m_lastLineState < 0 ? lineState(true) : m_lastLineState));
        break;
    case NotifyModemState:
        *replies += subnegotiation(code, byte(modemState()));
        break;
    case FlowSuspend:
    case FlowResume:
        m_suspended = code == FlowSuspend;
        break;
    case SetLineStateMask:
    case SetModemStateMask:
        if (first < 0)
            return;
        (code == SetLineStateMask ? m_lineMask : m_modemMask) = quint8(first);
        *replies += subnegotiation(code, byte(first));
        if (code == SetModemStateMask)
            *replies += modemStateNow();
        break;
    case PurgeData:
        if (first < 1 || first > 3)
            return;
        m_line->purge(first & 1, first & 2);
        *replies += subnegotiation(code, byte(first));
        break;
    default:
        break;
    }
}

QByteArray Rfc2217Session::control(quint8 value)
{
    const bool noModemLines = m_line->modemLines() < 0;
    using Getter = bool (PCom_SerialLine::*)() const;
    using Setter = bool (PCom_SerialLine::*)(bool, QString *);
    const auto level = [this, noModemLines](Getter get, Setter set, bool *asked, int request, quint8 on) {
        if (request >= 0) {
            *asked = request == 1;
            (m_line->*set)(*asked, nullptr);
        }
        const bool now = noModemLines ? *asked : (m_line->*get)();
        return byte(now ? on : on + 1);
    };
    const auto flow = [this](int value) {
        return applyNamed(m_line, &PCom_SerialLine::flowControl, &PCom_SerialLine::setFlowControl, kFlowControls,
                          value);
    };
    switch (value) {
    case 0: case 1: case 2: case 3:
        return byte(flow(value));
    case 13: case 14: case 15: case 16: {
        // One flow control setting serves both directions.
        const int in = flow(value - 13);
        return byte(in == 0 ? 0 : in + 13);
    }
    case 4: case 5: case 6:
        if (value != 4)
            m_line->setBreakEnabled(value == 5);
        return byte(m_line->isBreakEnabled() ? 5 : 6);
    case 7: case 8: case 9:
        return level(&PCom_SerialLine::isDataTerminalReady, &PCom_SerialLine::setDataTerminalReady, &m_dtrAsked,
                     value == 7 ? -1 : value == 8, 8);
    case 10: case 11: case 12:
        return level(&PCom_SerialLine::isRequestToSend, &PCom_SerialLine::setRequestToSend, &m_rtsAsked,
                     value == 10 ? -1 : value == 11, 11);
    default:
        // DCD, DTR or DSR flow control, which a serial port of Qt cannot do:
        // the inbound flow control in force.
        return control(13);
    }
}

quint8 Rfc2217Session::lineState(bool transmitterEmpty) const
{
    return transmitterEmpty ? 0x60 : 0;
}

// A line without modem lines to read (a pseudo-terminal) has none of them up.
int Rfc2217Session::modemState() const
{
    const int lines = m_line->modemLines();
    if (lines < 0)
        return 0;
    int state = 0;
    if (lines & QSerialPort::DataCarrierDetectSignal)
        state |= 0x80;
    if (lines & QSerialPort::RingIndicatorSignal)
        state |= 0x40;
    if (lines & QSerialPort::DataSetReadySignal)
        state |= 0x20;
    if (lines & QSerialPort::ClearToSendSignal)
        state |= 0x10;
    return state;
}

bool Rfc2217Session::comPortAgreed() const
{
    return m_us[2] == Side::Yes || m_him[2] == Side::Yes;
}

bool Rfc2217Session::wantsNotices() const
{
    return comPortAgreed() && (m_lineMask || m_modemMask);
}

// The current modem state under the mask, from which later changes count.
QByteArray Rfc2217Session::modemStateNow()
{
    m_lastModemState = modemState();
    return subnegotiation(NotifyModemState, byte(m_lastModemState & m_modemMask));
}

QByteArray Rfc2217Session::notices(bool transmitterEmpty)
{
    if (!comPortAgreed())
        return QByteArray();
    QByteArray out;
    const int line = lineState(transmitterEmpty);
    if (m_lastLineState >= 0 && ((line ^ m_lastLineState) & m_lineMask))
        out += subnegotiation(NotifyLineState, byte(line & m_lineMask));
    m_lastLineState = line;
    if (m_lastModemState < 0 && m_modemMask)
        return out + modemStateNow();
    const int modem = modemState();
    // The low nibble: which of the lines above changed (for RI, its trailing
    // edge). A change of a masked line is told even when its delta bit is
    // not masked.
    int changed = 0;
    if (m_lastModemState >= 0) {
        const int diff = modem ^ m_lastModemState;
        changed = diff | (diff & 0xb0) >> 4 | ((m_lastModemState & 0x40) && !(modem & 0x40) ? 0x04 : 0);
    }
    if (changed & m_modemMask)
        out += subnegotiation(NotifyModemState, byte((modem | (changed & 0x0f)) & m_modemMask));
    m_lastModemState = modem;
    return out;
}
