#include "cli/OpenCommand.h"

#include "hostlib/CandumpReplay.h"
#include "cli/CommandContext.h"
#include "cli/ExitCode.h"
#include "cli/OutputFormat.h"
#include "cli/ProgressLine.h"
#include "cli/SerialOptions.h"
#include "cli/ServiceOptions.h"
#include "cli/TlsOptions.h"
#include "cli/SessionLog.h"
#include "cli/Shutdown.h"
#include "cli/StdioEndpoint.h"
#include "cli/Terminal.h"
#include "core/PCom_CanFrames.h"
#include "core/PCom_LinkStatus.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/Bridge.h"
#include "hostlib/HexCodec.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PortHandle.h"
#include "hostlib/PortLink.h"
#include "hostlib/PortWriter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

namespace {

const char description[] =
    "Creates a port, writes its properties in the order given, opens it (\"connect\" = true) and relays\n"
    "standard input to the port and what the port reads to standard output.\n"
    "When standard input is a terminal, pcom is an interactive terminal on byte-stream links: each key\n"
    "leaves as it is typed (Ctrl-C too), Ctrl-T is the escape key (Ctrl-T ? lists its commands, Ctrl-T q\n"
    "quits) and the terminal's settings are put back on every way out.\n"
    "When standard input ends and everything has left (a TCP client then ends its sending direction),\n"
    "pcom prints what arrives until the peer closes or nothing has arrived for the quiet time -w (half\n"
    "a second by default), then closes the port. --timeout ends the whole run after a total time:\n"
    "  printf 'ATI\\r' | pcom open com device=/dev/ttyUSB0 -w 2      # ends 2 s after the last answer byte\n"
    "  pcom open tcpClient address=localhost port=7 --timeout 10   # ends after 10 s in any case\n"
    "Over UDP each read of standard input is one datagram of at most 65507 bytes, and each typed line\n"
    "when interactive (sent on Enter; Backspace takes back a key). Addresses may be\n"
    "IPv4 or IPv6 literals or host names (pcom resolves them).\n"
    "CAN ports take one frame per line in can-utils' cansend notation: 123#DEADBEEF, 00000123#11.22\n"
    "(8 digits: extended), 123#R or 123#R4 (remote request), 123##1DEADBEEF (flexible data rate, flags\n"
    "digit), and print each frame in that notation or, with --format candump, as\n"
    "\"(time) can0  123   [4]  DE AD BE EF\"; error frames print as ERRORFRAME and what they report.\n"
    "Qt's virtual CAN back-end gives an isolated bus per relay port of your choice:\n"
    "  pcom open canBus --can-plugin virtualcan device=tcp://127.0.0.1:35468/can0\n"
    "The relay runs in the first program that opened the bus and ends with it; pcom canbus-server PORT\n"
    "runs one that outlives them. A candump log recorded and played back with its timing:\n"
    "  pcom open canBus ... --log bus.log --log-format candump      # (1436509053.850870) can0 123#DEADBEEF\n"
    "  pcom open canBus ... --replay bus.log\n"
    "Exit status: 0 closed in an orderly way (by pcom, by the peer, on SIGINT/SIGTERM, Ctrl-T q or\n"
    "--timeout) with every byte of standard input written out, 1 the link failed, did not open, a serial\n"
    "setting or a datagram was refused, bytes were left over or input lines or frames were skipped\n"
    "(their count is printed), 2 bad input (nothing was opened).";

// --wait-device: a serial device that is not there yet is waited for (looked
// for every 200 ms); false when a stop signal came first.
bool waitForDevice(const QString &device, Shutdown &shutdown)
{
    const QString path = device.startsWith(QLatin1Char('/')) ? device : QStringLiteral("/dev/") + device;
    if (device.isEmpty() || QFileInfo::exists(path))
        return true;
    CommandContext::say(QStringLiteral("progress"), QStringLiteral("pcom: waiting for %1 to appear").arg(path));
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&loop, path]() {
        if (QFileInfo::exists(path))
            loop.exit(1);
    });
    QObject::connect(&shutdown, &Shutdown::stopRequested, &loop, [&loop]() { loop.exit(0); });
    QObject::connect(&shutdown, &Shutdown::abortRequested, &loop, [&loop]() { loop.exit(0); });
    poll.start(200);
    return loop.exec() == 1;
}

QString lastPathPart(const QString &text)
{
    return text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

int OpenCommand::run(const QStringList &arguments)
{
    CommandContext context(QString::fromLatin1(description));
    QCommandLineParser &parser = context.parser();
    parser.addPositionalArgument(QStringLiteral("open"), QStringLiteral("The command."), QStringLiteral("open"));
    parser.addPositionalArgument(QStringLiteral("TYPE"),
                                 QStringLiteral("Port type key: com, canBus, tcpServer, tcpClient, udpClient."));
    parser.addPositionalArgument(QStringLiteral("NAME=VALUE"),
                                 QStringLiteral("Property settings, written in this order (see pcom props TYPE)."),
                                 QStringLiteral("[NAME=VALUE...]"));
    const auto option = [&context](const QStringList &names, const char *text, const QString &value = QString()) {
        const QCommandLineOption o(names, QString::fromLatin1(text), value);
        context.addOption(o);
        return o;
    };
    const QCommandLineOption wait = option({"w", "wait"}, "Quiet time: after standard input ends, close once nothing "
                                           "has arrived for SECONDS (default 0.5).", "SECONDS");
    const QCommandLineOption timeout = option({"timeout"}, "Total time: close after SECONDS, whatever happens.",
                                              "SECONDS");
    const QCommandLineOption hex = option({"hex"}, "Show received data as a hex dump; read lines of hex digits from "
                                          "standard input, each line one write (keys as typed when interactive).");
    const QCommandLineOption echo = option({"echo"}, "Local echo: show what is sent (Ctrl-T e switches it).");
    const QCommandLineOption escape = option({"escape"}, "Interactive: Ctrl-LETTER is the escape key instead of "
                                             "Ctrl-T.", "LETTER");
    const QCommandLineOption waitDevice = option({"wait-device"}, "com: a device that is not there yet is waited "
                                                 "for, and opened when it appears.");
    const QCommandLineOption charDelay = option({"char-delay"}, "Send what is read one byte at a time, MS "
                                                "milliseconds apart.", "MS");
    const QCommandLineOption lineDelay = option({"line-delay"}, "Pause MS milliseconds after each line end sent.",
                                                "MS");
    const QCommandLineOption init = option({"init"}, "Send TEXT first once the port is open (escapes: \\r, \\n, "
                                           "\\t, \\\\, \\xNN).", "TEXT");
    const QCommandLineOption map = option({"map"}, "Translations, comma-separated: received icrnl, inlcr, igncr, "
                                          "ignlf, crcrlf, ctlhex (control bytes as [1b]); sent ocrnl, onlcr, delbs, "
                                          "bsdel.", "LIST");
    const QCommandLineOption timestamp(
        QStringLiteral("timestamp"),
        QStringLiteral("Lead each received line, hex chunk or frame with its time (default absolute)."),
        QStringLiteral("absolute|delta|relative|epoch"));
    context.addOptionalValue(timestamp, QStringLiteral("absolute"), [](const QString &word) {
        OutputFormat::Stamp stamp;
        return OutputFormat::parseStamp(word, &stamp);
    });
    const QCommandLineOption log = option({"log"}, "Record both directions, with time and direction, in FILE.",
                                          "FILE");
    const QCommandLineOption logAppend = option({"log-append"}, "Add to the --log file instead of starting it anew.");
    const QCommandLineOption logFormat = option({"log-format"}, "How --log records: text (both directions, "
                                                "escaped) or candump (CAN: candump -L records, for --replay and "
                                                "canplayer).", "text|candump");
    const QCommandLineOption progress = option({"progress"}, "Show a progress line while standard input is sent "
                                               "(default when it is a file and standard error a terminal).");
    const QCommandLineOption noProgress = option({"no-progress"}, "No progress line.");
    const QCommandLineOption canPlugin = option({"can-plugin"}, "canBus: Qt back-end to use (short for "
                                                "interface=NAME).", "NAME");
    const QCommandLineOption format = option({"format"}, "canBus: how received frames are printed.", "cansend|candump");
    const QCommandLineOption flexible = option({"fd"}, "canBus: switch CAN FD (flexible data rate) on, where the "
                                               "back-end has it.");
    const QCommandLineOption replay = option({"replay"}, "canBus: send the frames of a candump -L log (candump -L, "
                                             "--log-format candump) with their recorded gaps instead of reading "
                                             "standard input.", "FILE");
    const QCommandLineOption filter = option({"filter"}, "canBus: print only frames whose ID agrees with ID on the bits "
                                             "of MASK (hex; ID~MASK: those that do not; may be repeated).",
                                             "ID:MASK");
    SerialOptions serial(context);
    ServiceOptions service(context);
    TlsOptions tls(context);
    if (!context.parse(arguments))
        return ExitCode::BadInput;

    const QStringList words = context.words();
    if (words.isEmpty())
        return CommandContext::badInput(QStringLiteral("open: missing TYPE (see pcom open --help)"));
    StdioEndpoint::Options options;
    double quietSeconds = 0.5;
    double timeoutSeconds = 0;
    OutputFormat output;
    OutputFormat::Stamp stamp = OutputFormat::Stamp::None;
    if (context.isSet(timestamp) && !OutputFormat::parseStamp(context.value(timestamp), &stamp))
        return CommandContext::badInput(QStringLiteral("--timestamp takes absolute, delta, relative or epoch, not '%1'")
                                            .arg(context.value(timestamp)));
    output.setStamp(stamp);
    QString error;
    if (context.isSet(map) && !options.map.parse(context.value(map), &error))
        return CommandContext::badInput(error);
    output.setMap(options.map);
    QList<CanLineParser::Filter> filters;
    for (const QString &text : context.parser().values(filter)) {
        CanLineParser::Filter f;
        if (!CanLineParser::parseFilter(text, &f, &error))
            return CommandContext::badInput(error);
        filters.append(f);
    }
    output.setFilters(filters);
    const QString form = context.isSet(format) ? context.value(format) : QStringLiteral("cansend");
    if (form != QLatin1String("cansend") && form != QLatin1String("candump"))
        return CommandContext::badInput(QStringLiteral("--format takes cansend or candump, not '%1'").arg(form));
    if (!context.seconds(wait, 0.5, true, &quietSeconds) || !context.seconds(timeout, 0, false, &timeoutSeconds)
        || !serial.check(context) || !service.check(context) || !tls.check(context))
        return ExitCode::BadInput;
    const QString escapeText = context.isSet(escape) ? context.value(escape).toLower() : QStringLiteral("t");
    if (escapeText.size() != 1 || escapeText.at(0) < QLatin1Char('a') || escapeText.at(0) > QLatin1Char('z'))
        return CommandContext::badInput(QStringLiteral("--escape takes a letter a to z, not '%1'").arg(escapeText));
    options.escapeLetter = escapeText.at(0).toLatin1();
    if (!HexCodec::unescape(context.value(init), &options.init))
        return CommandContext::badInput(
            QStringLiteral("--init: a backslash starts \\r, \\n, \\t, \\\\ or \\xNN: '%1'").arg(context.value(init)));
    for (const auto &delay :
         {qMakePair(&charDelay, &options.charDelayMs), qMakePair(&lineDelay, &options.lineDelayMs)}) {
        bool ok = true;
        *delay.second = context.isSet(*delay.first) ? context.value(*delay.first).toInt(&ok) : 0;
        if (!ok || *delay.second < 0 || *delay.second > 60000)
            return CommandContext::badInput(QStringLiteral("--%1 takes milliseconds from 0 to 60000, not '%2'")
                                                .arg(delay.first->names().constFirst(), context.value(*delay.first)));
    }
    const QString logForm = context.isSet(logFormat) ? context.value(logFormat) : QStringLiteral("text");
    if (logForm != QLatin1String("text") && logForm != QLatin1String("candump"))
        return CommandContext::badInput(QStringLiteral("--log-format takes text or candump, not '%1'").arg(logForm));
    SessionLog sessionLog;
    if (context.isSet(log) && !sessionLog.open(context.value(log), context.isSet(logAppend), &error))
        return CommandContext::badInput(error);
    CandumpReplay replayed;
    if (context.isSet(replay) && !replayed.load(context.value(replay), &error))
        return CommandContext::badInput(error);
    if (!context.start())
        return ExitCode::BadInput;

    std::unique_ptr<PortHandle> handle = context.createPort(words.first());
    if (!handle)
        return ExitCode::BadInput;
    Plugin_Com_Port *port = handle->port();
    const QString typeKey = handle->typeKey();
    const bool frames = port->usesFrameIds();
    if (logForm == QLatin1String("candump") && !frames)
        return CommandContext::badInput(QStringLiteral("--log-format candump applies to CAN ports only, not to %1")
                                            .arg(typeKey));
    for (const QCommandLineOption &canOnly : {canPlugin, format, filter, replay, flexible}) {
        if (context.isSet(canOnly) && !frames)
            return CommandContext::badInput(QStringLiteral("--%1 applies to CAN ports only, not to %2")
                                                .arg(canOnly.names().constFirst(), typeKey));
    }
    for (const QCommandLineOption &streamOnly : {hex, map, init, charDelay, lineDelay}) {
        if (context.isSet(streamOnly) && frames)
            return CommandContext::badInput(
                QStringLiteral("--%1 applies to byte streams; a %2 port reads and writes ID#DATA lines")
                    .arg(streamOnly.names().constFirst(), typeKey));
    }
    if (context.isSet(waitDevice) && !SerialOptions::fits(port))
        return CommandContext::badInput(
            QStringLiteral("--wait-device applies to com ports only, not to %1").arg(typeKey));
    if (serial.isSet() && !SerialOptions::fits(port))
        return CommandContext::badInput(
            QStringLiteral("%1 applies to com ports only, not to %2").arg(serial.firstName(), typeKey));
    if (!service.fits({port}) || !tls.fits({port}))
        return ExitCode::BadInput;
    QStringList settings = words.mid(1);
    if (context.isSet(canPlugin))
        settings.prepend(QStringLiteral("interface=") + context.value(canPlugin));
    if (!CommandContext::configure(*handle, settings) || !tls.apply(port))
        return ExitCode::BadInput;
    if (context.isSet(flexible)) {
        PCom_CanFrames *canFrames = PluginHost::face<PCom_CanFrames>(port);
        if (!canFrames)
            return CommandContext::badInput(QStringLiteral("--fd: this %1 port passes no whole frames").arg(typeKey));
        canFrames->setFlexibleDataRate(true);
    }

    options.interactive = Terminal::isInteractive() && !frames;
    options.input = frames ? DataCodec::Frames
                           : (context.isSet(hex) && !options.interactive ? DataCodec::Hex : DataCodec::Raw);
    options.echo = context.isSet(echo);
    options.progress = !context.isSet(replay)
                       && (context.isSet(progress)
                           || (!context.isSet(noProgress) && !options.interactive && ProgressLine::wantedByDefault()));
    output.setHex(context.isSet(hex));
    const QByteArray interfaceName =
        lastPathPart(port->getTavlinProperty(QStringLiteral("device")).toString()).toLatin1();
    output.setFrameForm(form == QLatin1String("candump") ? OutputFormat::FrameForm::Candump
                                                         : OutputFormat::FrameForm::Cansend,
                        interfaceName);
    sessionLog.setForm(logForm == QLatin1String("candump") ? SessionLog::Form::Candump : SessionLog::Form::Text,
                       interfaceName);
    if (context.isSet(replay))
        options.replay = &replayed;

    int code = ExitCode::Ok;
    {
        PortLink link(port, typeKey);
        options.chunkSize = link.maxWriteSize();
        options.piecePerLine = link.status() && link.status()->maxWriteSize() > 0;
        // Every piece escaped for a log that is not there would cost more
        // than all the rest of the way.
        StdioEndpoint stdio(options, &output, sessionLog.isOpen() ? &sessionLog : nullptr);
        QObject::connect(&stdio, &StdioEndpoint::breakRequested, &link, [port, typeKey]() {
            if (!SerialOptions::fits(port))
                LogReceiver::post(QStringLiteral("warning"),
                                  QStringLiteral("pcom: the %1 link has no break; a break goes on serial lines only")
                                      .arg(typeKey));
            else if (SerialOptions::sendBreak(port, 250))
                LogReceiver::post(QStringLiteral("info"), QStringLiteral("pcom: break sent"));
        });
        QObject::connect(&stdio, &StdioEndpoint::lineCommand, &link, [port, &link, &stdio](char key) {
            bool refused = false;
            const QString text = key == 's' ? QStringLiteral("statistics: %1 bytes sent, %2 bytes shown")
                                                  .arg(link.bytesDelivered())
                                                  .arg(stdio.bytesDelivered())
                                            : SerialOptions::lineCommand(port, key, &refused);
            LogReceiver::post(refused ? QStringLiteral("error") : QStringLiteral("info"),
                              QStringLiteral("pcom: ") + text);
        });
        // The port first: stop() closes it with its own flush time before the
        // standard streams go down, which would close it without one.
        Bridge bridge(&link, &stdio, 0, PortWriter::holdAll);
        bridge.setFinalStats(false);
        bridge.setLingerMs(int(quietSeconds * 1000));
        bridge.setSkippedText(QStringLiteral("%1 input lines or frames were skipped"));
        QTimer total;
        total.setSingleShot(true);
        QObject::connect(&total, &QTimer::timeout, &bridge, [&bridge, timeoutSeconds]() {
            LogReceiver::post(QStringLiteral("info"),
                              QStringLiteral("pcom: the total time of %1 s has passed").arg(timeoutSeconds));
            // A total time: what cannot leave at once does not hold the end back.
            bridge.stop(Shutdown::timeoutFlushMs);
        });
        // Every way the run ends takes the standard streams down first.
        QObject::connect(&stdio, &Endpoint::down, &total, &QTimer::stop);
        // Watches for signals from here on, so that one during the open
        // still closes the port cleanly.
        Shutdown shutdown;
        QObject::connect(&shutdown, &Shutdown::stopRequested, &bridge,
                         [&bridge]() { bridge.stop(Shutdown::signalFlushMs); });
        QObject::connect(&shutdown, &Shutdown::abortRequested, &bridge, &Bridge::abort);
        ServiceOptions::Side side;
        const auto reopen = [&handle, &serial, port, typeKey]() {
            return handle->open() && serial.apply(port, typeKey);
        };
        if (!service.setUp(*handle, &link, reopen, &side)) {
            code = ExitCode::BadInput;
        } else if (context.isSet(waitDevice)
                   && !waitForDevice(port->getTavlinProperty(QStringLiteral("device")).toString(), shutdown)) {
            code = ExitCode::Ok;
        } else if (!CommandContext::open(*handle, typeKey)) {
            code = ExitCode::LinkFailure;
        } else if (!serial.apply(port, typeKey)) {
            port->close();
            code = ExitCode::LinkFailure;
        } else {
            context.log().log(KrLog_Interface::Progress, QStringLiteral("pcom: opened the %1 port").arg(typeKey));
            if (timeoutSeconds > 0)
                total.start(int(timeoutSeconds * 1000));
            code = bridge.run() ? ExitCode::Ok : ExitCode::LinkFailure;
            side.printStats();
        }
    }
    handle.reset();
    // Objects that the port released with deleteLater() go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}
