#include "gui/Workspace.h"

#include "gui/Workbench.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"
#include "hostlib/PropertyAssigner.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

const QString formatName = QStringLiteral("pcom-gui workspace");
const QString connectName = QStringLiteral("connect");
const QString pluginName = QStringLiteral("plugin");

// Why the document is no workspace, or empty.
QString shapeError(const QJsonDocument &document)
{
    const QJsonObject root = document.object();
    if (!document.isObject() || root.value(QStringLiteral("format")).toString() != formatName)
        return QStringLiteral("it is no %1 (no \"format\": \"%1\")").arg(formatName);
    if (!root.value(QStringLiteral("ports")).isArray())
        return QStringLiteral("it has no \"ports\" list");
    const QJsonArray ports = root.value(QStringLiteral("ports")).toArray();
    for (int i = 0; i < ports.size(); ++i) {
        const QJsonObject port = ports.at(i).toObject();
        if (!port.value(QStringLiteral("type")).isString() || !port.value(QStringLiteral("properties")).isObject())
            return QStringLiteral("port %1 needs a \"type\" text and a \"properties\" object").arg(i + 1);
    }
    return QString();
}

void restore(Workbench &bench, const QJsonObject &entry, const QString &name, QStringList *problems,
             QList<Plugin_Com_Port *> *toOpen, const Workspace::ApplyTerminal &apply)
{
    const QString type = entry.value(QStringLiteral("type")).toString();
    Plugin_Com_Device *device = bench.device(type);
    if (!device) {
        problems->append(QStringLiteral("%1: the plug-in has no '%2' device; the port was left out").arg(name, type));
        return;
    }
    Plugin_Com_Port *port = bench.addPort(device);
    const QJsonObject values = entry.value(QStringLiteral("properties")).toObject();
    // In the port's own order, as its editor writes them.
    for (const TavlinProperty *record : port->tavlinProperties()) {
        if (!values.contains(record->name()))
            continue;
        const QString value = values.value(record->name()).toVariant().toString();
        if (port->getTavlinProperty(record->name()).toString() == value)
            continue;
        QString why;
        if (!PropertyAssigner::assign(port, {{record->name(), value, true}}, &why,
                                      PropertyAssigner::Addresses::Resolved))
            problems->append(QStringLiteral("%1 (%2): %3").arg(name, type, why));
    }
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (!port->tavlinProperty(it.key()))
            problems->append(QStringLiteral("%1 (%2): no property '%3' any more; its value was left out").arg(name, type, it.key()));
    }
    apply(port, entry.value(QStringLiteral("terminal")).toObject());
    if (entry.value(connectName).toBool())
        toOpen->append(port);
}

// A device that is not listed may still open (a pseudo-terminal is never
// listed): only a port that did not open is said to lack it.
QString openFailure(Plugin_Com_Port *port)
{
    const QString device = port->getTavlinProperty(QStringLiteral("device")).toString();
    const QString label = QStringLiteral("%1 %2").arg(Workbench::typeKey(port->device()), Workbench::portLabel(port));
    if (port->tavlinProperty(QStringLiteral("device")) && !port->usesFrameIds()
        && !port->device()->availablePorts().contains(device))
        return QStringLiteral("%1 did not open: device '%2' is not present now").arg(label, device);
    return QStringLiteral("%1 did not open; the log says why").arg(label);
}

} // namespace

QString Workspace::withSuffix(const QString &fileName)
{
    return QFileInfo(fileName).suffix().isEmpty() ? fileName + QStringLiteral(".json") : fileName;
}

bool Workspace::save(const Workbench &bench, const QString &fileName, const QJsonObject &window,
                     const TerminalOf &terminalOf, QString *error)
{
    QJsonArray ports;
    for (Plugin_Com_Port *port : bench.ports()) {
        QJsonObject values;
        for (const TavlinProperty *record : port->tavlinProperties()) {
            if (record->name() != connectName && record->name() != pluginName)
                values.insert(record->name(), port->getTavlinProperty(record->name()).toString());
        }
        ports.append(QJsonObject{{QStringLiteral("type"), Workbench::typeKey(port->device())},
                                 {QStringLiteral("properties"), values},
                                 {QStringLiteral("terminal"), terminalOf(port)},
                                 {connectName, port->opened()}});
    }
    const QJsonObject root{{QStringLiteral("format"), formatName}, {QStringLiteral("version"), 1},
                           {QStringLiteral("window"), window}, {QStringLiteral("ports"), ports}};
    QSaveFile file(fileName);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(root).toJson());
        if (file.commit())
            return true;
    }
    *error = QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString());
    return false;
}

bool Workspace::open(Workbench &bench, const QString &fileName, QJsonObject *window, const ApplyTerminal &apply,
                     QString *error, QStringList *problems)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    QString why = parseError.error != QJsonParseError::NoError
                      ? QStringLiteral("it is no JSON (%1 at byte %2)").arg(parseError.errorString()).arg(parseError.offset)
                      : shapeError(document);
    if (!why.isEmpty()) {
        *error = QStringLiteral("%1 is not a workspace: %2").arg(fileName, why);
        return false;
    }
    bench.removeAllPorts();
    *window = document.object().value(QStringLiteral("window")).toObject();
    QList<Plugin_Com_Port *> toOpen;
    const QJsonArray ports = document.object().value(QStringLiteral("ports")).toArray();
    for (int i = 0; i < ports.size(); ++i)
        restore(bench, ports.at(i).toObject(), QStringLiteral("port %1").arg(i + 1), problems, &toOpen, apply);
    // Opened once all are configured, in the file's order: servers listed
    // before their clients are listening when the clients connect.
    for (Plugin_Com_Port *port : qAsConst(toOpen)) {
        if (!port->setTavlinProperty(connectName, true).toBool())
            problems->append(openFailure(port));
    }
    return true;
}
