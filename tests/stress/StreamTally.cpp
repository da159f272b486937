#include "tests/stress/StreamTally.h"

#include <cstring>

void StreamTally::sent(const char *data, int size)
{
    m_hash.addData(data, size);
    m_count += size;
}

void StreamTally::received(const char *data, int size)
{
    if (m_firstMismatch < 0) {
        if (m_expected.size() < size)
            m_expected.resize(size);
        m_stream.fill(m_count, m_expected.data(), size);
        if (std::memcmp(m_expected.constData(), data, size_t(size)) != 0) {
            for (int i = 0; i < size; ++i) {
                if (m_expected.at(i) != data[i]) {
                    m_firstMismatch = m_count + i;
                    break;
                }
            }
        }
    }
    sent(data, size);
}
