#include "hostlib/Rfc2217Clients.h"

QByteArray Rfc2217Clients::join(int client)
{
    return m_sessions.insert_or_assign(client, Rfc2217Session(m_line)).first->second.start();
}

void Rfc2217Clients::leave(int client)
{
    m_sessions.erase(client);
}

QByteArray Rfc2217Clients::takeFromClient(int client, const char *data, int size, QByteArray *replies)
{
    if (m_sessions.find(client) == m_sessions.end())
        *replies += join(client);
    return m_sessions.at(client).takeFromClient(data, size, replies);
}

QList<QPair<int, QByteArray>> Rfc2217Clients::notices(bool transmitterEmpty)
{
    QList<QPair<int, QByteArray>> out;
    for (auto &entry : m_sessions) {
        const QByteArray bytes = entry.second.notices(transmitterEmpty);
        if (!bytes.isEmpty())
            out.append({entry.first, bytes});
    }
    return out;
}

bool Rfc2217Clients::isSuspended() const
{
    for (const auto &entry : m_sessions) {
        if (entry.second.isSuspended())
            return true;
    }
    return false;
}

bool Rfc2217Clients::wantsNotices() const
{
    for (const auto &entry : m_sessions) {
        if (entry.second.wantsNotices())
            return true;
    }
    return false;
}
