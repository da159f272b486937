#include "cli/BridgeCommand.h"
#include "cli/CanbusServerCommand.h"
#include "cli/CommandContext.h"
#include "cli/DevicesCommand.h"
#include "cli/DocCommand.h"
#include "cli/ExitCode.h"
#include "cli/OpenCommand.h"
#include "cli/PropsCommand.h"
#include "cli/ServeCommand.h"

#include <QCoreApplication>
#include <QStringList>

#include <functional>

#include <cstdio>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

const char usage[] =
    "Usage: pcom [COMMAND] [options] [arguments]\n"
    "\n"
    "A command-line host of the communication plug-in: it loads the plug-in file and uses its devices\n"
    "and ports through the host interface.\n"
    "\n"
    "Commands:\n"
    "  devices                            every device of the plug-in (the default command)\n"
    "  props TYPE [--host-version V]      the property records of a port of that type\n"
    "  doc TYPE [--host-version V] [-o FILE]\n"
    "                                     the rendered help page of a device\n"
    "  open TYPE [NAME=VALUE...]          open a port and relay standard input and output through it\n"
    "  bridge TYPE [NAME=VALUE...] -- TYPE [NAME=VALUE...]\n"
    "                                     relay between two ports\n"
    "  serve FILE                         the bridges of a configuration file in one process\n"
    "  canbus-server [PORT]               run only the relay of Qt's virtual CAN bus, so that the bus\n"
    "                                     outlives every pcom that uses it\n"
    "  help                               this text\n"
    "\n"
    "Port types: com, canBus, tcpServer, tcpClient, udpClient; pcom bridge also takes pcom's own ends\n"
    "socketcand and slcan opposite a canBus port.\n"
    "Every command takes --help, -q (no trace and progress lines) and --plugin FILE. An option whose\n"
    "help begins with port types (\"com: ...\", \"com, tcpClient: ...\") applies to ports of those types.\n"
    "--help-all shows this text and the help of every command; --version shows pcom's version.\n"
    "Exit status: 0 success or orderly close, 1 the link failed, 2 bad input.\n";

// Options of any command that take a value, so that the value is not
// mistaken for the command word.
bool takesValue(const QString &option)
{
    static const QStringList withValue{
        QStringLiteral("--plugin"),       QStringLiteral("-w"),      QStringLiteral("--wait"),
        QStringLiteral("--can-plugin"),   QStringLiteral("-o"),      QStringLiteral("--output"),
        QStringLiteral("--host-version"), QStringLiteral("--stats"), QStringLiteral("--hold"),
        QStringLiteral("--timeout"),      QStringLiteral("--log"),   QStringLiteral("--map"),
        QStringLiteral("--format"),       QStringLiteral("--filter"), QStringLiteral("--data-bits"),
        QStringLiteral("--parity"),       QStringLiteral("--stop-bits"), QStringLiteral("--flow-control"),
        QStringLiteral("--dtr"),          QStringLiteral("--rts"),   QStringLiteral("--break")};
    return withValue.contains(option);
}

// Index of the command word in `arguments`, or -1.
int commandIndex(const QStringList &arguments)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--"))
            return -1;
        if (a.startsWith(QLatin1Char('-'))) {
            if (takesValue(a))
                ++i;
            continue;
        }
        return i;
    }
    return -1;
}

// pcom is a relay: one turn of its event loop per block or message, so the
// turn must be cheap. Qt's own dispatcher polls the descriptors directly,
// where GLib's main loop adds a wake-up (eventfd write and read) to most
// turns. And Qt's socket buffers take and give back blocks of up to a
// quarter MiB per read and write: kept by the allocator instead of going
// back to the system, they are not faulted in again on every block.
void tuneForRelaying()
{
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
#endif
}

const QList<QPair<const char *, std::function<int(const QStringList &)>>> &commands()
{
    static const QList<QPair<const char *, std::function<int(const QStringList &)>>> all{
        {"devices", &DevicesCommand::run}, {"props", &PropsCommand::run}, {"doc", &DocCommand::run},
        {"open", &OpenCommand::run},       {"bridge", &BridgeCommand::run}, {"serve", &ServeCommand::run},
        {"canbus-server", &CanbusServerCommand::run}};
    return all;
}

// The overview and every command's --help, one after the other.
int printAllHelp()
{
    QString text = QString::fromLatin1(usage);
    for (const auto &command : commands()) {
        QString help;
        CommandContext::collectHelp(&help);
        command.second({QStringLiteral("pcom"), QString::fromLatin1(command.first), QStringLiteral("--help")});
        CommandContext::collectHelp(nullptr);
        text += QStringLiteral("\n%1\n").arg(help.trimmed());
    }
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return ExitCode::Ok;
}

} // namespace

int main(int argc, char **argv)
{
    tuneForRelaying();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pcom"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PCOM_VERSION));

    QStringList arguments = QCoreApplication::arguments();
    const int end = arguments.indexOf(QStringLiteral("--"));
    if (arguments.mid(0, end).contains(QStringLiteral("--help-all")))
        return printAllHelp();
    const int at = commandIndex(arguments);
    QString command = at < 0 ? QString() : arguments.at(at);
    if (at > 1) {
        // Options before the command word go after it, for its own parser.
        arguments.move(at, 1);
    }
    if (command.isEmpty()) {
        const bool help = arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))
                          || arguments.contains(QStringLiteral("-?"));
        if (help) {
            std::fputs(usage, stdout);
            return ExitCode::Ok;
        }
        if (arguments.contains(QStringLiteral("--version")) || arguments.contains(QStringLiteral("-v"))) {
            std::printf("pcom %s\n", PCOM_VERSION);
            return ExitCode::Ok;
        }
        command = QStringLiteral("devices");
        arguments.insert(1, command);
    }

    if (command == QLatin1String("help")) {
        std::fputs(usage, stdout);
        return ExitCode::Ok;
    }
    for (const auto &known : commands()) {
        if (command == QLatin1String(known.first))
            return known.second(arguments);
    }

    return CommandContext::badInput(
        QStringLiteral("unknown command '%1'; commands: devices, props, doc, open, bridge, serve, canbus-server, "
                       "help (see pcom --help)")
            .arg(command));
}
