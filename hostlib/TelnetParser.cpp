#include "hostlib/TelnetParser.h"

namespace {
void appendData(QList<TelnetParser::Item> *items, const char *data, int size)
{
    if (size <= 0)
        return;
    if (!items->isEmpty() && items->last().kind == TelnetParser::Kind::Data)
        items->last().bytes.append(data, size);
    else
        items->append({TelnetParser::Kind::Data, 0, 0, QByteArray(data, size), false});
}
}

void TelnetParser::feed(const char *data, int size, QList<Item> *items)
{
    int i = 0;
    while (i < size) {
        const quint8 byte = quint8(data[i]);
        switch (m_state) {
        case State::Data: {
            // Plain data goes in runs up to the next IAC.
            int end = i;
            while (end < size && quint8(data[end]) != IAC)
                ++end;
            appendData(items, data + i, end - i);
            if (end < size)
                m_state = State::Iac;
            i = end + 1;
            continue;
        }
        case State::Iac:
            takeIac(byte, items);
            break;
        case State::Option:
            items->append({Kind::Negotiation, m_command, byte, QByteArray(), false});
            m_state = State::Data;
            break;
        case State::SbOption:
            m_option = byte;
            m_payload.clear();
            m_overlong = false;
            m_state = byte == IAC ? State::SbIac : State::SbData;
            break;
        case State::SbData:
            if (byte == IAC)
                m_state = State::SbIac;
            else
                appendPayload(byte);
            break;
        case State::SbIac:
            if (byte == IAC) {
                appendPayload(byte);
                m_state = State::SbData;
            } else if (byte == SE) {
                items->append({Kind::Subnegotiation, SB, m_option, m_payload, m_overlong});
                m_payload.clear();
                m_state = State::Data;
            } else {
                // The sender never closed it: drop it and take the command.
                m_payload.clear();
                takeIac(byte, items);
            }
            break;
        }
        ++i;
    }
}

void TelnetParser::takeIac(quint8 byte, QList<Item> *items)
{
    m_state = State::Data;
    if (byte == IAC) {
        const char ff = char(IAC);
        appendData(items, &ff, 1);
    } else if (byte == SB) {
        m_state = State::SbOption;
    } else if (byte >= WILL && byte <= DONT) {
        m_command = byte;
        m_state = State::Option;
    } else if (byte != SE) {
        // A stray SE closes nothing and is dropped.
        items->append({Kind::Command, byte, 0, QByteArray(), false});
    }
}

void TelnetParser::appendPayload(quint8 byte)
{
    if (m_payload.size() < maxPayload)
        m_payload.append(char(byte));
    else
        m_overlong = true;
}

void TelnetParser::reset()
{
    m_state = State::Data;
    m_payload.clear();
    m_overlong = false;
}

QByteArray TelnetParser::escape(const char *data, int size)
{
    QByteArray out;
    out.reserve(size + 16);
    int start = 0;
    for (int i = 0; i < size; ++i) {
        if (quint8(data[i]) == IAC) {
            out.append(data + start, i - start + 1);
            out.append(char(IAC));
            start = i + 1;
        }
    }
    out.append(data + start, size - start);
    return out;
}
