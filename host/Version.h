#pragma once

#include "host/host_export.h"

#include <QString>

// A host version such as 2.12. A component of -1 marks the open end of a
// supported range, so Version(-1, 0, 0) compares as "no limit".
class HOST_EXPORT Version
{
public:
    Version(qint64 major = 0, qint64 minor = 0, qint64 patch = 0);
    explicit Version(const QString &text);

    qint64 major() const { return m_major; }
    qint64 minor() const { return m_minor; }
    qint64 patch() const { return m_patch; }

    bool isOpenEnd() const { return m_major < 0; }
    bool isValid() const { return m_valid; }
    QString toString() const;

    int compare(const Version &other) const;
    bool operator==(const Version &o) const { return compare(o) == 0; }
    bool operator!=(const Version &o) const { return compare(o) != 0; }
    bool operator<(const Version &o) const { return compare(o) < 0; }
    bool operator<=(const Version &o) const { return compare(o) <= 0; }
    bool operator>(const Version &o) const { return compare(o) > 0; }
    bool operator>=(const Version &o) const { return compare(o) >= 0; }

private:
    qint64 m_major;
    qint64 m_minor;
    qint64 m_patch;
    bool m_valid = true;
};
