#pragma once

#include "cli/ServeConfig.h"

#include <QEventLoop>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <memory>
#include <vector>

class BridgeCommand;
class CommandContext;

// pcom serve FILE: the bridges of a configuration file (see ServeConfig),
// each written as pcom bridge takes it, in one process. Every bridge is
// checked, its ports created and configured, before any is opened; a bad
// file ends the run with "FILE:LINE: reason" (exit status 2).
//
// SIGHUP reads the file again and changes only what changed: new bridges
// start, removed ones stop in order, changed ones stop and start again,
// the others keep running untouched (a bridge that had ended starts again).
// A bad file on reload is reported and the running bridges stay.
// SIGINT or SIGTERM stops every bridge in order, a second one at once.
class ServeCommand : public QObject
{
    Q_OBJECT
public:
    // `arguments`: the program name, the command word, the rest.
    static int run(const QStringList &arguments);

private:
    struct Slot {
        ServeConfig::Entry entry;
        std::unique_ptr<BridgeCommand> command;
        bool pending = false;
    };

    ServeCommand(CommandContext &context, const QString &fileName);
    ~ServeCommand() override;

    bool read(QList<ServeConfig::Entry> *entries, QString *error) const;
    std::unique_ptr<BridgeCommand> prepare(const ServeConfig::Entry &entry, QString *error);
    // The slots of `entries`: the running bridge where it is unchanged, a
    // prepared one otherwise; false, with the first bad one's reason.
    bool plan(const QList<ServeConfig::Entry> &entries, std::vector<Slot> *next, QString *error);
    void startPending();
    // Opens and starts one bridge; false when it did not open.
    bool startOne(const Slot &slot);
    // A bridge with --reconnect that did not open is tried again, after
    // pauses that double up to its longest one, until it opens or goes.
    void retryLater(BridgeCommand *command, const QString &name, int pauseMs);
    void reload();
    void stop();
    void abort();
    void onFinished(BridgeCommand *command);
    void retire(std::unique_ptr<BridgeCommand> command);
    void say(const QString &kind, const QString &text) const;

    CommandContext &m_context;
    QString m_fileName;
    std::vector<Slot> m_slots;
    // Bridges stopped by a reload, until they are down.
    std::vector<std::unique_ptr<BridgeCommand>> m_retiring;
    QSet<BridgeCommand *> m_live;
    // Bridges that wait to be tried again, with the try they are at.
    QHash<BridgeCommand *, int> m_waiting;
    // A bridge without --reconnect did not open at the start.
    bool m_failedAtStart = false;
    bool m_firstStarted = false;
    bool m_stopping = false;
    bool m_reloadAgain = false;
    QEventLoop m_loop;
};
