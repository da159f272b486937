#include "cli/CanbusServerCommand.h"

#include "cli/CommandContext.h"
#include "cli/ExitCode.h"
#include "cli/Shutdown.h"
#include "core/PCom_CanFrames.h"
#include "host/Plugin_Com_Port.h"
#include "hostlib/PluginHost.h"
#include "hostlib/PortHandle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTcpServer>

namespace {

const char description[] =
    "Runs the relay of Qt's virtual CAN bus (back-end virtualcan) on 127.0.0.1:PORT (default 35468)\n"
    "and nothing else, until SIGINT or SIGTERM. Without it the relay runs in the first program that\n"
    "opened a virtualcan device on that port, and the bus dies for everyone when that program ends:\n"
    "  pcom canbus-server 35470 &\n"
    "  pcom open canBus --can-plugin virtualcan device=tcp://127.0.0.1:35470/can0\n"
    "Exit status: 0 stopped by a signal, 1 the port is taken (a relay runs there already) or the relay\n"
    "did not start, 2 bad input.";

// Whether a listener could take 127.0.0.1:port now.
bool isFree(quint16 port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, port);
}

} // namespace

int CanbusServerCommand::run(const QStringList &arguments)
{
    CommandContext context(QString::fromLatin1(description));
    context.parser().addPositionalArgument(QStringLiteral("canbus-server"), QStringLiteral("The command."),
                                           QStringLiteral("canbus-server"));
    context.parser().addPositionalArgument(QStringLiteral("PORT"), QStringLiteral("The relay's loopback port."),
                                           QStringLiteral("[PORT]"));
    if (!context.parse(arguments))
        return ExitCode::BadInput;
    const QStringList words = context.words();
    bool ok = true;
    const int port = words.isEmpty() ? defaultPort : words.first().toInt(&ok);
    if (words.size() > 1 || !ok || port < 1 || port > 65535)
        return CommandContext::badInput(
            QStringLiteral("canbus-server takes one PORT from 1 to 65535, not '%1'").arg(words.join(QLatin1Char(' '))));
    if (!context.start())
        return ExitCode::BadInput;
    if (!isFree(quint16(port))) {
        CommandContext::say(QStringLiteral("error"),
                            QStringLiteral("127.0.0.1:%1 is taken: a relay (or another program) listens there")
                                .arg(port));
        return ExitCode::LinkFailure;
    }
    std::unique_ptr<PortHandle> handle = context.createPort(QStringLiteral("canBus"));
    if (!handle || !CommandContext::configure(*handle, {QStringLiteral("interface=virtualcan"),
                                                        QStringLiteral("device=tcp://127.0.0.1:%1/can0").arg(port)}))
        return ExitCode::BadInput;
    int code = ExitCode::Ok;
    if (!CommandContext::open(*handle, QStringLiteral("canBus"))) {
        code = ExitCode::LinkFailure;
    } else if (isFree(quint16(port))) {
        CommandContext::say(QStringLiteral("error"), QStringLiteral("the relay did not start on port %1").arg(port));
        code = ExitCode::LinkFailure;
    } else {
        CommandContext::say(QStringLiteral("progress"),
                            QStringLiteral("pcom: the virtual CAN bus relay runs on 127.0.0.1:%1").arg(port));
        Plugin_Com_Port *canPort = handle->port();
        PCom_CanFrames *frames = PluginHost::face<PCom_CanFrames>(canPort);
        QObject::connect(canPort, &Plugin_Com_Port::readyRead, canPort, [frames]() {
            while (frames && frames->readFrame().isValid()) {
            }
        });
        QEventLoop loop;
        Shutdown shutdown;
        QObject::connect(&shutdown, &Shutdown::stopRequested, &loop, &QEventLoop::quit);
        QObject::connect(&shutdown, &Shutdown::abortRequested, &loop, &QEventLoop::quit);
        loop.exec();
        canPort->close();
    }
    handle.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}
