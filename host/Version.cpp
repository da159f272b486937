#include "host/Version.h"

#include <QStringList>

Version::Version(qint64 major, qint64 minor, qint64 patch)
    : m_major(major), m_minor(minor), m_patch(patch)
{
}

Version::Version(const QString &text)
    : m_major(0), m_minor(0), m_patch(0)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.isEmpty() || parts.size() > 3) {
        m_valid = false;
        return;
    }
    qint64 *fields[] = {&m_major, &m_minor, &m_patch};
    for (int i = 0; i < parts.size(); ++i) {
        bool ok = false;
        const qint64 value = parts.at(i).toLongLong(&ok);
        if (!ok || value < 0) {
            m_valid = false;
            m_major = m_minor = m_patch = 0;
            return;
        }
        *fields[i] = value;
    }
}

QString Version::toString() const
{
    if (isOpenEnd())
        return QStringLiteral("open");
    if (m_patch != 0)
        return QStringLiteral("%1.%2.%3").arg(m_major).arg(m_minor).arg(m_patch);
    return QStringLiteral("%1.%2").arg(m_major).arg(m_minor);
}

int Version::compare(const Version &other) const
{
    if (m_major != other.m_major)
        return m_major < other.m_major ? -1 : 1;
    if (m_minor != other.m_minor)
        return m_minor < other.m_minor ? -1 : 1;
    if (m_patch != other.m_patch)
        return m_patch < other.m_patch ? -1 : 1;
    return 0;
}
