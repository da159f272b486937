#include "hostlib/NewlineMap.h"

#include <QStringList>

const char NewlineMap::names[] = "icrnl|inlcr|igncr|ocrnl|onlcr";

bool NewlineMap::parse(const QString &list, QString *error)
{
    const QStringList known = QString::fromLatin1(names).split(QLatin1Char('|'));
    for (const QString &name : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int at = known.indexOf(name.trimmed().toLower());
        if (at < 0) {
            *error = QStringLiteral("unknown --map name '%1' (known: %2)").arg(name, known.join(QStringLiteral(", ")));
            return false;
        }
        m_flags |= 1 << at;
    }
    return true;
}

QByteArray NewlineMap::received(const QByteArray &data) const
{
    if (!(m_flags & (Icrnl | Inlcr | Igncr)))
        return data;
    QByteArray out;
    out.reserve(data.size());
    for (char c : data) {
        if (c == '\r' && (m_flags & Igncr))
            continue;
        if (c == '\r' && (m_flags & Icrnl))
            c = '\n';
        else if (c == '\n' && (m_flags & Inlcr))
            c = '\r';
        out.append(c);
    }
    return out;
}

QByteArray NewlineMap::sent(const QByteArray &data) const
{
    if (!(m_flags & (Ocrnl | Onlcr)))
        return data;
    QByteArray out;
    out.reserve(data.size() * 2);
    for (char c : data) {
        if (c == '\r' && (m_flags & Ocrnl))
            c = '\n';
        if (c == '\n' && (m_flags & Onlcr))
            out.append('\r');
        out.append(c);
    }
    return out;
}
