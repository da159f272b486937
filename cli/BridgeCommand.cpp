#include "cli/BridgeCommand.h"

#include "cli/CommandContext.h"
#include "cli/ExitCode.h"
#include "cli/SerialOptions.h"
#include "cli/ServiceOptions.h"
#include "cli/Shutdown.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/Bridge.h"
#include "hostlib/PortHandle.h"
#include "hostlib/PortLink.h"
#include "hostlib/Rfc2217Server.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

// Marks where the second port's words begin. A process argument cannot
// hold a NUL character, so no word of the user's can be mistaken for it;
// and unlike "--" it leaves options after it to the parser.
const QString secondPortMark = QString(QChar(0));

// What --hold may keep at most: memory stays bounded.
const qint64 maxHoldBytes = 64 * 1024 * 1024;

} // namespace

int BridgeCommand::run(const QStringList &arguments)
{
    CommandContext context(QStringLiteral(
        "Opens two ports and relays in both directions until either link closes, SIGINT or SIGTERM;\n"
        "then closes the other one once what it was given has left, and prints the byte counts delivered\n"
        "in each direction. A side is read only while the other side's backlog is under 1 MiB. What\n"
        "arrives for a TCP server side without a client is dropped and counted (see --hold). Between a\n"
        "CAN port and a byte stream, frames travel as cansend lines (ID#HEXDATA).\n"
        "The serial options apply to the com side (or both).\n"
        "Example: pcom bridge com device=/dev/ttyUSB0 baudrate=115200 --parity even -- tcpServer port=5000\n"
        "Exit status: 0 closed in an orderly way with every byte delivered, 1 a link failed, did not open,\n"
        "a serial setting was refused, bytes were left over or lines or frames were skipped, 2 bad input."));
    QCommandLineParser &parser = context.parser();
    parser.addPositionalArgument(QStringLiteral("bridge"), QStringLiteral("The command."), QStringLiteral("bridge"));
    parser.addPositionalArgument(QStringLiteral("TYPE"), QStringLiteral("First port's type key."));
    parser.addPositionalArgument(QStringLiteral("NAME=VALUE"), QStringLiteral("First port's settings."),
                                 QStringLiteral("[NAME=VALUE...] -- TYPE [NAME=VALUE...]"));
    const QCommandLineOption stats(QStringLiteral("stats"),
                                   QStringLiteral("Print the byte counts of both directions every SECONDS."),
                                   QStringLiteral("SECONDS"));
    const QCommandLineOption hold(QStringLiteral("hold"),
                                  QStringLiteral("Hold up to BYTES for a side that has nobody to take them (a TCP "
                                                 "server without a client) instead of dropping them."),
                                  QStringLiteral("BYTES"));
    context.addOption(stats);
    context.addOption(hold);
    const QCommandLineOption rfc2217(QStringLiteral("rfc2217"),
                                     QStringLiteral("Serve the com side to the clients of the tcpServer side as a "
                                                    "Telnet COM port (RFC 2217): they set the line and see its state."));
    context.addOption(rfc2217);
    SerialOptions serial(context);
    ServiceOptions service(context);
    QStringList marked = ServiceOptions::withDefaults(arguments);
    const int split = marked.indexOf(QStringLiteral("--"));
    if (split >= 0)
        marked[split] = secondPortMark;
    if (!context.parse(marked))
        return ExitCode::BadInput;
    const QStringList words = context.words();
    const int mark = words.indexOf(secondPortMark);
    const QStringList firstWords = words.mid(0, mark);
    const QStringList secondWords = mark < 0 ? QStringList() : words.mid(mark + 1);
    if (firstWords.isEmpty() || secondWords.isEmpty())
        return CommandContext::badInput(
            QStringLiteral("bridge needs two ports: TYPE [NAME=VALUE...] -- TYPE [NAME=VALUE...]"));
    double statsSeconds = 0;
    if (!context.seconds(stats, 0, false, &statsSeconds))
        return ExitCode::BadInput;
    qint64 holdBytes = 0;
    if (context.isSet(hold)) {
        bool ok = false;
        holdBytes = context.value(hold).toLongLong(&ok);
        if (!ok || holdBytes < 0 || holdBytes > maxHoldBytes)
            return CommandContext::badInput(QStringLiteral("--hold takes a byte count from 0 to %1, not '%2'")
                                                .arg(maxHoldBytes)
                                                .arg(context.value(hold)));
    }
    if (!serial.check(context) || !service.check(context) || !context.start())
        return ExitCode::BadInput;

    // The type keys are enough to refuse --rfc2217 before anything is made.
    const QString com = QStringLiteral("com");
    const bool serveRfc2217 = context.isSet(rfc2217);
    const bool comFirst = firstWords.first() == com;
    const QStringList sides{firstWords.first(), secondWords.first()};
    if (serveRfc2217 && sides != QStringList{com, QStringLiteral("tcpServer")}
        && sides != QStringList{QStringLiteral("tcpServer"), com})
        return CommandContext::badInput(
            QStringLiteral("--rfc2217 needs a com port on one side and a tcpServer port on the other"));

    std::unique_ptr<PortHandle> firstHandle = context.createPort(firstWords.first());
    if (!firstHandle || !CommandContext::configure(*firstHandle, firstWords.mid(1)))
        return ExitCode::BadInput;
    std::unique_ptr<PortHandle> secondHandle = context.createPort(secondWords.first());
    if (!secondHandle || !CommandContext::configure(*secondHandle, secondWords.mid(1)))
        return ExitCode::BadInput;

    if (serial.isSet() && firstHandle->typeKey() != com && secondHandle->typeKey() != com)
        return CommandContext::badInput(QStringLiteral("%1 applies to com ports only").arg(serial.firstName()));
    if (!service.fits({firstHandle->typeKey(), secondHandle->typeKey()}))
        return ExitCode::BadInput;
    QString firstLabel = firstHandle->typeKey();
    QString secondLabel = secondHandle->typeKey();
    if (firstLabel == secondLabel) {
        firstLabel += QStringLiteral("#1");
        secondLabel += QStringLiteral("#2");
    }

    int code = ExitCode::Ok;
    {
        PortLink firstLink(firstHandle->port(), firstLabel);
        PortLink secondLink(secondHandle->port(), secondLabel);
        Bridge bridge(&firstLink, &secondLink, statsSeconds, holdBytes);
        std::unique_ptr<Rfc2217Server> server;
        if (serveRfc2217) {
            PortLink *network = comFirst ? &secondLink : &firstLink;
            server.reset(new Rfc2217Server(network, comFirst ? &firstLink : &secondLink));
            bridge.setFilter(network, server.get());
        }
        ServiceOptions::Side firstSide;
        ServiceOptions::Side secondSide;
        bridge.setStatsHook([&firstSide, &secondSide]() {
            firstSide.printStats();
            secondSide.printStats();
        });
        Shutdown shutdown;
        QObject::connect(&shutdown, &Shutdown::stopRequested, &bridge,
                         [&bridge]() { bridge.stop(Shutdown::signalFlushMs); });
        QObject::connect(&shutdown, &Shutdown::abortRequested, &bridge, &Bridge::abort);
        // A com side gets the serial settings as soon as it is open.
        const auto openSide = [&serial, &com](PortHandle &handle, const QString &label) {
            if (!CommandContext::open(handle, label))
                return false;
            if (handle.typeKey() != com || serial.apply(handle.port(), label))
                return true;
            handle.port()->close();
            return false;
        };
        const auto reopen = [&serial, &com](PortHandle &handle, const QString &label) {
            return [&serial, &com, &handle, label]() {
                return handle.open() && (handle.typeKey() != com || serial.apply(handle.port(), label));
            };
        };
        if (!service.setUp(*firstHandle, &firstLink, reopen(*firstHandle, firstLabel), &firstSide)
            || !service.setUp(*secondHandle, &secondLink, reopen(*secondHandle, secondLabel), &secondSide)) {
            code = ExitCode::BadInput;
        } else if (!openSide(*firstHandle, firstLabel)) {
            code = ExitCode::LinkFailure;
        } else if (!openSide(*secondHandle, secondLabel)) {
            firstHandle->port()->close();
            code = ExitCode::LinkFailure;
        } else {
            context.log().log(KrLog_Interface::Progress,
                              QStringLiteral("pcom: opened the %1 and %2 ports").arg(firstLabel, secondLabel));
            code = bridge.run() ? ExitCode::Ok : ExitCode::LinkFailure;
        }
    }
    secondHandle.reset();
    firstHandle.reset();
    // Objects that the ports released with deleteLater() go now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}
