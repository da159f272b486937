#include "cli/OutputEncoder.h"

#include "cli/CanLineParser.h"
#include "cli/HexCodec.h"

OutputEncoder::OutputEncoder(Mode mode)
    : m_mode(mode)
{
}

QByteArray OutputEncoder::encode(const QByteArray &data, quint32 frameId)
{
    switch (m_mode) {
    case Raw:
        return data;
    case Hex: {
        const QByteArray text = HexCodec::dump(data, m_offset);
        m_offset += data.size();
        return text;
    }
    case Frames:
        return CanLineParser::format(frameId, data) + '\n';
    }
    return data;
}
