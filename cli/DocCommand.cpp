#include "cli/DocCommand.h"

#include "cli/CommandContext.h"
#include "cli/ExitCode.h"
#include "cli/StdoutWriter.h"
#include "host/HelpRenderer.h"
#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"
#include "host/Version.h"
#include "hostlib/PortHandle.h"

#include <QFile>
#include <QMap>

Version DocCommand::newestNamedVersion(const Plugin_Com_Port *port)
{
    Version newest(-1, 0, 0);
    for (const TavlinProperty *record : port->tavlinProperties()) {
        for (const Version &v : {record->minVersion(), record->maxVersion()}) {
            if (!v.isOpenEnd() && (newest.isOpenEnd() || v > newest))
                newest = v;
        }
    }
    return newest;
}

QString DocCommand::examples(const QString &typeKey)
{
    static const QMap<QString, QStringList> lines{
        {QStringLiteral("com"),
         {QStringLiteral("pcom open com device=/dev/ttyUSB0 baudrate=115200"),
          QStringLiteral("a terminal on the line (Ctrl-T ? lists the commands, Ctrl-T q quits)"),
          QStringLiteral("pcom open com device=/dev/ttyUSB0 baudrate=9600 --parity even --stop-bits 2 "
                         "--flow-control rtscts"),
          QStringLiteral("9600 baud, 8E2, RTS/CTS flow control"),
          QStringLiteral("pcom open com device=/dev/ttyACM0 --map ocrnl,onlcr,igncr --timestamp --log session.log"),
          QStringLiteral("Enter sends CR LF, received CR LF ends a line; each line with its time; both directions "
                         "in session.log"),
          QStringLiteral("pcom bridge com device=/dev/ttyUSB0 baudrate=115200 -- tcpServer address=any port=5000"),
          QStringLiteral("the line reachable over TCP")}},
        {QStringLiteral("canBus"),
         {QStringLiteral("pcom open canBus --can-plugin virtualcan device=tcp://127.0.0.1:35468/can0"),
          QStringLiteral("a virtual bus of its own: every pcom on the same port number shares it, no other"),
          QStringLiteral("printf '123#DEADBEEF\\n00000123#11\\n123#R\\n' | "
                         "pcom open canBus --can-plugin socketcan device=can0"),
          QStringLiteral("a standard data frame, an extended one and a remote request"),
          QStringLiteral("pcom open canBus --can-plugin socketcan device=can0 --format candump --filter 100:700 "
                         "--timestamp"),
          QStringLiteral("frames 100 to 1FF in candump form, with their time")}},
        {QStringLiteral("tcpServer"),
         {QStringLiteral("pcom open tcpServer address=any port=5000"),
          QStringLiteral("serve standard input and output to the clients on port 5000"),
          QStringLiteral("pcom open tcpServer address=::1 port=5000 --hex"),
          QStringLiteral("IPv6 loopback only; received data as a hex dump")}},
        {QStringLiteral("tcpClient"),
         {QStringLiteral("printf 'GET / HTTP/1.0\\r\\n\\r\\n' | pcom open tcpClient address=localhost port=80 -w 2"),
          QStringLiteral("send a request, print the answer until 2 s pass without data"),
          QStringLiteral("pcom open tcpClient address=::1 port=5000 --timeout 10"),
          QStringLiteral("at most 10 s in all")}},
        {QStringLiteral("udpClient"),
         {QStringLiteral("pcom open udpClient bind-address=127.0.0.1 bind-port=6000 address=127.0.0.1 port=6001"),
          QStringLiteral("each read of standard input one datagram to port 6001; what arrives on 6000 printed"),
          QStringLiteral("pcom open udpClient bind-address=:: address=::1 port=6001 --hex"),
          QStringLiteral("over IPv6, data as hex")}},
    };
    const QStringList list = lines.value(typeKey);
    if (list.isEmpty())
        return QString();
    QString html = QStringLiteral("<h2>Using it with pcom</h2>\r\n<dl>\r\n");
    for (int i = 0; i + 1 < list.size(); i += 2) {
        html += QStringLiteral("<dt><code>%1</code></dt><dd>%2</dd>\r\n")
                    .arg(list.at(i).toHtmlEscaped(), list.at(i + 1).toHtmlEscaped());
    }
    return html + QStringLiteral("</dl>\r\n");
}

int DocCommand::run(const QStringList &arguments)
{
    CommandContext context(QStringLiteral(
        "Renders the help page of a device as the host shows it: its page with name, icon, brief and the\n"
        "table of the port properties that the host version supports (by default the newest version that\n"
        "the properties name), as one self-contained HTML page, with examples of pcom command lines for\n"
        "that kind of port."));
    context.parser().addPositionalArgument(QStringLiteral("doc"), QStringLiteral("The command."),
                                           QStringLiteral("doc"));
    context.parser().addPositionalArgument(
        QStringLiteral("TYPE"), QStringLiteral("Port type key: com, canBus, tcpServer, tcpClient, udpClient."));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the page to FILE instead of standard output."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption versionOption = CommandContext::hostVersionOption();
    context.addOption(output);
    context.addOption(versionOption);
    if (!context.parse(arguments))
        return ExitCode::BadInput;
    const QStringList words = context.words();
    if (words.size() != 1)
        return CommandContext::badInput(QStringLiteral("doc takes one TYPE (see pcom doc --help)"));
    const bool versionGiven = context.isSet(versionOption);
    const Version requested(context.value(versionOption));
    if (versionGiven && !requested.isValid())
        return CommandContext::badInput(
            QStringLiteral("'%1' is no host version (expected e.g. 2.12)").arg(context.value(versionOption)));
    if (context.isSet(output) && context.value(output).isEmpty())
        return CommandContext::badInput(QStringLiteral("-o needs a file name"));
    if (!context.start())
        return ExitCode::BadInput;
    const std::unique_ptr<PortHandle> handle = context.createPort(words.first());
    if (!handle)
        return ExitCode::BadInput;

    const Version version = versionGiven ? requested : newestNamedVersion(handle->port());
    QString page = HelpRenderer::render(handle->device(), version);
    if (page.isNull()) {
        CommandContext::say(QStringLiteral("error"),
                            QStringLiteral("the %1 device has no help page").arg(words.first()));
        return ExitCode::LinkFailure;
    }
    page.insert(page.lastIndexOf(QStringLiteral("</body>")), examples(handle->typeKey()));
    const QByteArray bytes = page.toUtf8();
    if (!context.isSet(output)) {
        StdoutWriter(1).write(bytes);
        return ExitCode::Ok;
    }
    QFile file(context.value(output));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return CommandContext::badInput(
            QStringLiteral("cannot write %1: %2").arg(context.value(output), file.errorString()));
    return ExitCode::Ok;
}
