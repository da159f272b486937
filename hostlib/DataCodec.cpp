#include "hostlib/DataCodec.h"

#include "hostlib/CanLineParser.h"
#include "hostlib/HexCodec.h"

DataCodec::DataCodec(Mode mode)
    : m_mode(mode)
{
}

void DataCodec::feed(const QByteArray &bytes, QList<Item> *items, QList<Problem> *problems)
{
    if (m_mode == Raw) {
        if (!bytes.isEmpty())
            items->append({bytes, QCanBusFrame(), 0});
        return;
    }

    int start = 0;
    while (start < bytes.size()) {
        const int newline = bytes.indexOf('\n', start);
        const int end = newline < 0 ? bytes.size() : newline;
        if (!m_skippingLongLine) {
            m_partial.append(bytes.constData() + start, end - start);
            if (m_partial.size() > maxLineLength) {
                problems->append({m_lineNumber + 1,
                                  QStringLiteral("line longer than %1 characters, skipped").arg(maxLineLength)});
                m_partial.clear();
                m_skippingLongLine = true;
            }
        }
        if (newline < 0)
            break;
        ++m_lineNumber;
        if (!m_skippingLongLine)
            takeLine(m_partial, items, problems);
        m_partial.clear();
        m_skippingLongLine = false;
        start = newline + 1;
    }
}

void DataCodec::finish(QList<Item> *items, QList<Problem> *problems)
{
    if (m_mode == Raw)
        return;
    if (!m_partial.isEmpty() && !m_skippingLongLine) {
        ++m_lineNumber;
        takeLine(m_partial, items, problems);
    }
    m_partial.clear();
    m_skippingLongLine = false;
}

void DataCodec::takeLine(const QByteArray &line, QList<Item> *items, QList<Problem> *problems)
{
    if (line.trimmed().isEmpty())
        return;
    QString error;
    if (m_mode == Hex) {
        QByteArray data;
        if (HexCodec::decode(line.trimmed(), &data, &error))
            items->append({data, QCanBusFrame(), m_lineNumber});
        else
            problems->append({m_lineNumber, error});
        return;
    }
    QCanBusFrame frame;
    if (CanLineParser::parse(line, &frame, &error))
        items->append({QByteArray(), frame, m_lineNumber});
    else
        problems->append({m_lineNumber, error});
}

QByteArray DataCodec::encode(const QByteArray &data)
{
    if (m_mode != Hex)
        return data;
    const QByteArray text = HexCodec::dump(data, m_outputOffset);
    m_outputOffset += data.size();
    return text;
}
