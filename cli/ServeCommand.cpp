#include "cli/ServeCommand.h"

#include "cli/BridgeCommand.h"
#include "cli/CommandContext.h"
#include "cli/ExitCode.h"
#include "cli/LogAttribution.h"
#include "cli/Shutdown.h"
#include "hostlib/Bridge.h"
#include "hostlib/Reconnector.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>

#include <algorithm>

int ServeCommand::run(const QStringList &arguments)
{
    CommandContext context(QStringLiteral(
        "Runs the bridges of a configuration file in one process, each written as pcom bridge takes it:\n"
        "  bridges:\n"
        "    - name: line1\n"
        "      args: com device=/dev/ttyUSB0 baudrate=9600 -- tcpServer port=5000\n"
        "    - name: can0\n"
        "      args: [canBus, --can-plugin, virtualcan, \"device=tcp://127.0.0.1:35468/can0\", --, tcpServer, "
        "port=5001]\n"
        "    - name: line2\n"
        "      args: com device=/dev/ttyUSB1 -- tcpServer port=5002 --banner \"line 2\\r\\n\"\n"
        "      on-demand: true\n"
        "A bridge's on-demand: true is --on-demand in its args (the line opens while the server has clients).\n"
        "Every bridge is checked before any is opened; a bad file is refused with FILE:LINE: reason.\n"
        "Log lines name their bridge (\"info: [line1] ...\"). A bridge that ends is started again by the next reload.\n"
        "SIGHUP reads the file again: new bridges start, removed ones stop, changed ones restart, the\n"
        "others keep running untouched; a bad file is reported and the running bridges stay.\n"
        "SIGINT or SIGTERM stops every bridge in order.\n"
        "A bridge that does not open at the start ends the run, unless it has --reconnect: then it is\n"
        "tried again, pausing at most that long between tries, until it opens.\n"
        "Exit status: 0 stopped by a signal, 1 a bridge without --reconnect did not open at the start,\n"
        "2 bad input or a bad file."));
    QCommandLineParser &parser = context.parser();
    parser.addPositionalArgument(QStringLiteral("serve"), QStringLiteral("The command."), QStringLiteral("serve"));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The configuration file (YAML)."));
    if (!context.parse(arguments))
        return ExitCode::BadInput;
    const QStringList words = context.words();
    if (words.size() != 1)
        return CommandContext::badInput(QStringLiteral("serve takes one configuration file"));
    if (!context.start())
        return ExitCode::BadInput;

    int code = ExitCode::Ok;
    {
        LogAttribution attribution;
        ServeCommand serve(context, words.first());
        QList<ServeConfig::Entry> entries;
        QString error;
        if (!serve.read(&entries, &error) || !serve.plan(entries, &serve.m_slots, &error))
            return CommandContext::badInput(error);
        Shutdown shutdown;
        shutdown.watchHangup();
        connect(&shutdown, &Shutdown::stopRequested, &serve, &ServeCommand::stop);
        connect(&shutdown, &Shutdown::abortRequested, &serve, &ServeCommand::abort);
        connect(&shutdown, &Shutdown::reloadRequested, &serve, &ServeCommand::reload);
        serve.startPending();
        if (serve.m_failedAtStart) {
            code = ExitCode::LinkFailure;
            serve.stop();
        }
        if (!serve.m_stopping || !serve.m_live.isEmpty())
            serve.m_loop.exec();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}

ServeCommand::ServeCommand(CommandContext &context, const QString &fileName)
    : m_context(context), m_fileName(fileName)
{
}

ServeCommand::~ServeCommand()
{
    // Bridges before their ports, ports while the plug-in is loaded.
    m_slots.clear();
    m_retiring.clear();
}

void ServeCommand::say(const QString &kind, const QString &text) const
{
    CommandContext::say(kind, QStringLiteral("pcom: ") + text);
}

bool ServeCommand::read(QList<ServeConfig::Entry> *entries, QString *error) const
{
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(m_fileName, file.errorString());
        return false;
    }
    return ServeConfig::read(file.read(ServeConfig::maxFileSize + 1), m_fileName, entries, error);
}

std::unique_ptr<BridgeCommand> ServeCommand::prepare(const ServeConfig::Entry &entry, QString *error)
{
    LogAttribution::Scope scope(entry.name);
    auto command = std::make_unique<BridgeCommand>();
    QString reason;
    static const QStringList notHere{QStringLiteral("--help"), QStringLiteral("-h"), QStringLiteral("-?"),
                                     QStringLiteral("--help-all"), QStringLiteral("--plugin"),
                                     QStringLiteral("--version"), QStringLiteral("-v"), QStringLiteral("--timeout")};
    for (const QString &word : entry.arguments) {
        if (word == QLatin1String("--"))
            break;
        if (notHere.contains(word) || word.startsWith(QLatin1String("--plugin="))
            || word.startsWith(QLatin1String("--timeout=")))
            reason = QStringLiteral("%1 is no option of a served bridge").arg(word);
    }
    if (reason.isEmpty()) {
        CommandContext::captureBadInput(&reason);
        const QStringList arguments = QStringList{QCoreApplication::arguments().value(0), QStringLiteral("bridge")}
                                      + entry.arguments;
        const bool ok = command->parse(arguments) && command->prepare(m_context.host());
        CommandContext::captureBadInput(nullptr);
        if (ok)
            return command;
    }
    *error = QStringLiteral("%1:%2: bridge '%3': %4").arg(m_fileName).arg(entry.line).arg(entry.name, reason);
    return nullptr;
}

bool ServeCommand::plan(const QList<ServeConfig::Entry> &entries, std::vector<Slot> *next, QString *error)
{
    next->clear();
    for (const ServeConfig::Entry &entry : entries) {
        Slot slot{entry, nullptr, true};
        for (const Slot &running : m_slots) {
            if (running.entry.name == entry.name && running.entry.arguments == entry.arguments
                && m_live.contains(running.command.get()))
                slot.pending = false;
        }
        if (slot.pending) {
            slot.command = prepare(entry, error);
            if (!slot.command)
                return false;
        }
        next->push_back(std::move(slot));
    }
    return true;
}

void ServeCommand::startPending()
{
    bool started = false;
    for (Slot &slot : m_slots) {
        if (!slot.pending)
            continue;
        started = true;
        slot.pending = false;
        LogAttribution::Scope scope(slot.entry.name);
        if (startOne(slot))
            continue;
        if (slot.command->reconnectSeconds() > 0) {
            say(QStringLiteral("error"), QStringLiteral("the bridge did not open; trying again, at most every %1 s")
                                             .arg(slot.command->reconnectSeconds()));
            retryLater(slot.command.get(), slot.entry.name, Reconnector::firstPauseMs);
        } else if (!m_firstStarted) {
            say(QStringLiteral("error"), QStringLiteral("the bridge did not open (no --reconnect)"));
            m_failedAtStart = true;
        } else {
            say(QStringLiteral("error"), QStringLiteral("the bridge did not open; a reload (SIGHUP) tries again"));
        }
    }
    m_firstStarted = true;
    // What a client may rely on: every bridge that opened is listening now.
    if (started && !m_failedAtStart) {
        QString text = QStringLiteral("serving %1 bridges from %2").arg(m_live.size()).arg(m_fileName);
        if (!m_waiting.isEmpty())
            text += QStringLiteral("; %1 waiting to open").arg(m_waiting.size());
        say(QStringLiteral("info"), text);
    }
}

bool ServeCommand::startOne(const Slot &slot)
{
    BridgeCommand *command = slot.command.get();
    if (!command->open())
        return false;
    m_live.insert(command);
    connect(command->bridge(), &Bridge::finished, this, [this, command]() { onFinished(command); });
    command->bridge()->start();
    return true;
}

void ServeCommand::retryLater(BridgeCommand *command, const QString &name, int pauseMs)
{
    const int tryNumber = m_waiting.value(command) + 1;
    m_waiting.insert(command, tryNumber);
    QTimer::singleShot(pauseMs, this, [this, command, name, pauseMs, tryNumber]() {
        // Gone with a reload, or tried by a later timer.
        if (m_stopping || m_waiting.value(command) != tryNumber)
            return;
        const auto slot = std::find_if(m_slots.begin(), m_slots.end(),
                                       [command](const Slot &s) { return s.command.get() == command; });
        if (slot == m_slots.end()) {
            m_waiting.remove(command);
            return;
        }
        LogAttribution::Scope scope(name);
        say(QStringLiteral("progress"), QStringLiteral("opening the bridge, try %1").arg(tryNumber + 1));
        if (startOne(*slot)) {
            m_waiting.remove(command);
            say(QStringLiteral("info"), QStringLiteral("the bridge is up after %1 tries").arg(tryNumber + 1));
            return;
        }
        const int longest = qMax(Reconnector::firstPauseMs, int(command->reconnectSeconds() * 1000));
        retryLater(command, name, qMin(pauseMs * 2, longest));
    });
}

void ServeCommand::reload()
{
    if (m_stopping)
        return;
    if (!m_retiring.empty()) {
        // The last reload still waits for bridges to stop.
        m_reloadAgain = true;
        return;
    }
    QList<ServeConfig::Entry> entries;
    std::vector<Slot> next;
    QString error;
    if (!read(&entries, &error) || !plan(entries, &next, &error)) {
        say(QStringLiteral("error"), QStringLiteral("reload refused, the running bridges stay: ") + error);
        return;
    }
    int added = 0, changed = 0, removed = 0, kept = 0;
    for (Slot &old : m_slots) {
        auto same = std::find_if(next.begin(), next.end(),
                                 [&old](const Slot &slot) { return slot.entry.name == old.entry.name; });
        if (same != next.end() && !same->pending) {
            same->command = std::move(old.command);
            ++kept;
            continue;
        }
        ++(same == next.end() ? removed : changed);
        m_waiting.remove(old.command.get());
        LogAttribution::Scope scope(old.entry.name);
        retire(std::move(old.command));
    }
    added = int(next.size()) - kept - changed;
    m_slots = std::move(next);
    say(QStringLiteral("info"), QStringLiteral("reloading %1: %2 added, %3 changed, %4 removed, %5 unchanged")
                                        .arg(m_fileName)
                                        .arg(added)
                                        .arg(changed)
                                        .arg(removed)
                                        .arg(kept));
    if (m_retiring.empty())
        startPending();
}

void ServeCommand::retire(std::unique_ptr<BridgeCommand> command)
{
    // A bridge that is down already goes at once (a reload never runs inside
    // a bridge's signal), so that what it held is free for its successor.
    if (!m_live.contains(command.get()))
        return;
    // Listed first: a bridge may be down before stop() returns.
    Bridge *bridge = command->bridge();
    m_retiring.push_back(std::move(command));
    bridge->stop(Shutdown::signalFlushMs);
}

void ServeCommand::onFinished(BridgeCommand *command)
{
    m_live.remove(command);
    const auto retiring = std::find_if(m_retiring.begin(), m_retiring.end(),
                                       [command](const std::unique_ptr<BridgeCommand> &c) { return c.get() == command; });
    if (retiring == m_retiring.end() && !m_stopping) {
        for (const Slot &slot : m_slots) {
            if (slot.command.get() == command) {
                LogAttribution::Scope scope(slot.entry.name);
                say(QStringLiteral("warning"), QStringLiteral("the bridge ended; a reload (SIGHUP) starts it again"));
            }
        }
    }
    if (m_live.isEmpty() && m_stopping) {
        m_loop.quit();
        return;
    }
    const bool retired = std::none_of(m_retiring.begin(), m_retiring.end(),
                                      [this](const std::unique_ptr<BridgeCommand> &c) { return m_live.contains(c.get()); });
    if (m_retiring.empty() || !retired)
        return;
    // Leave the signal that brought us here before the bridges go.
    QTimer::singleShot(0, this, [this]() {
        m_retiring.clear();
        if (m_stopping)
            return;
        startPending();
        if (m_reloadAgain) {
            m_reloadAgain = false;
            reload();
        }
    });
}

void ServeCommand::stop()
{
    m_stopping = true;
    if (m_live.isEmpty()) {
        m_loop.quit();
        return;
    }
    say(QStringLiteral("info"), QStringLiteral("stopping %1 bridges").arg(m_live.size()));
    for (const Slot &slot : m_slots) {
        if (m_live.contains(slot.command.get())) {
            LogAttribution::Scope scope(slot.entry.name);
            slot.command->bridge()->stop(Shutdown::signalFlushMs);
        }
    }
}

void ServeCommand::abort()
{
    for (const Slot &slot : m_slots) {
        if (m_live.contains(slot.command.get())) {
            LogAttribution::Scope scope(slot.entry.name);
            slot.command->bridge()->abort();
        }
    }
    for (const std::unique_ptr<BridgeCommand> &command : m_retiring) {
        if (m_live.contains(command.get()))
            command->bridge()->abort();
    }
}
