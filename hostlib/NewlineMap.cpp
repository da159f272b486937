#include "hostlib/NewlineMap.h"

#include <QStringList>

const char NewlineMap::names[] = "icrnl|inlcr|igncr|ocrnl|onlcr|ignlf|crcrlf|ctlhex|delbs|bsdel";

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
    if (!(m_flags & Received))
        return data;
    QByteArray out;
    out.reserve(data.size());
    for (char c : data) {
        if ((c == '\r' && (m_flags & Igncr)) || (c == '\n' && (m_flags & Ignlf)))
            continue;
        const char in = c;
        if (c == '\r' && (m_flags & Icrnl))
            c = '\n';
        else if (c == '\n' && (m_flags & Inlcr))
            c = '\r';
        const bool control = uchar(c) < 0x20 || c == '\x7f';
        if ((m_flags & Ctlhex) && control && c != '\r' && c != '\n' && c != '\t')
            out.append('[' + QByteArray(1, c).toHex() + ']');
        else
            out.append(c);
        if (in == '\r' && c == '\r' && (m_flags & Crcrlf))
            out.append('\n');
    }
    return out;
}

QByteArray NewlineMap::sent(const QByteArray &data) const
{
    if (!(m_flags & (Ocrnl | Onlcr | Delbs | Bsdel)))
        return data;
    QByteArray out;
    out.reserve(data.size() * 2);
    for (char c : data) {
        if (c == '\r' && (m_flags & Ocrnl))
            c = '\n';
        if (c == '\n' && (m_flags & Onlcr))
            out.append('\r');
        if (c == '\x7f' && (m_flags & Delbs))
            c = '\b';
        else if (c == '\b' && (m_flags & Bsdel))
            c = '\x7f';
        out.append(c);
    }
    return out;
}
