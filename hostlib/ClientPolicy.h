#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include "core/PCom_ServedClients.h"

class Plugin_Com_Port;

// What a host of ours does with the clients of a TCP server port, through
// the port's served-clients face: who may
// connect (an allow-list), how a new client shares the line with those
// there (share: all of them; exclusive: the first one, a later one is told
// the line is in use and closed; replace: the newest one), and what becomes
// of a client that stops reading. A client whose backlog stays over
// slowBacklog for the set time is dropped, so that it holds the others back
// for that long at most and memory stays bounded; with waitSlow the whole
// line waits for it instead (the host's own flow control on the summed
// backlog). A banner greets each client as it joins, before any line data;
// a client that sent and received nothing for idleSeconds (0: never) is
// closed. It keeps each client's address and byte counts for statsLines().
class ClientPolicy : public QObject
{
    Q_OBJECT
public:
    enum class Mode { Share, Exclusive, Replace };
    struct Options {
        Mode mode = Mode::Share;
        QStringList allow;      // ADDR[/PREFIX]; empty: everyone
        bool waitSlow = false;
        double slowSeconds = 5;
        QByteArray banner;
        double idleSeconds = 0;
    };

    // `port`: a TCP server port; `label` names it in messages.
    ClientPolicy(Plugin_Com_Port *port, const QString &label, const Options &options, QObject *parent = nullptr);

    // Whether the port has per-client control, and took the allow-list;
    // false, with the reason in *error, otherwise.
    bool apply(QString *error);
    // A line for the policy's effect, then one per client (the current
    // ones and the last departed ones).
    QStringList statsLines();

    static bool parseMode(const QString &text, Mode *mode);
    static QString modeName(Mode mode);

    // A client holding more than this is slow once it stays so.
    static constexpr qint64 slowBacklog = 256 * 1024;
    static constexpr int watchMs = 200;
    // Departed clients shown in the statistics, the most recent ones.
    static constexpr int departedShown = 32;
    // What a client that finds the line taken reads before it is closed.
    static const QByteArray inUseLine;

private:
    void onJoined(const PCom_ClientInfo &info);
    void onLeft(const PCom_ClientInfo &info);
    void onRefused(const QString &peer, PCom_ServedClients::Refusal why, const QString &reason);

    struct Client {
        PCom_ClientInfo info;
        QString ending;  // empty while connected
    };

    void watch();
    // Closes a client whose byte counts have not moved for idleSeconds.
    bool closeIdle(const PCom_ClientInfo &info, qint64 now);
    void close(int id, bool flush, const QString &ending);
    QString name(const PCom_ClientInfo &info) const;

    PCom_ServedClients *m_clientsFace;
    QString m_label;
    Options m_options;
    QList<Client> m_clients;
    QHash<int, qint64> m_slowSince;
    // Per client: its bytes both ways when last seen to move, and then.
    QHash<int, QPair<qint64, qint64>> m_lastActive;
    QElapsedTimer m_clock;
    QTimer m_watch;
    int m_accepted = 0;
    int m_turnedAway = 0;
    int m_replaced = 0;
    int m_refused = 0;
    int m_refusedTls = 0;
    int m_droppedSlow = 0;
    int m_idleClosed = 0;
};
