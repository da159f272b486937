#include "host/Plugin_Com_Device.h"

#include <QDebug>

namespace {
KrLog_Interface *g_logReceiver = nullptr;
}

Plugin_Com_Device::Plugin_Com_Device(PluginInterface_Com *plugin, ComInterface *com)
    : m_plugin(plugin), m_com(com)
{
}

Plugin_Com_Device::~Plugin_Com_Device() = default;

void Plugin_Com_Device::log(KrLog_Interface::Type type, const QString &text)
{
    if (g_logReceiver) {
        g_logReceiver->log(type, text);
        return;
    }
    switch (type) {
    case KrLog_Interface::Error:
        qCritical().noquote() << text;
        break;
    case KrLog_Interface::Warning:
        qWarning().noquote() << text;
        break;
    case KrLog_Interface::Trace:
        qDebug().noquote() << text;
        break;
    default:
        qInfo().noquote() << text;
        break;
    }
}

void Plugin_Com_Device::setLogInterface(KrLog_Interface *receiver)
{
    g_logReceiver = receiver;
}

KrLog_Interface *Plugin_Com_Device::logInterface()
{
    return g_logReceiver;
}

QString Plugin_Com_Device::getIconPath() const
{
    return getDocPath() + QStringLiteral("/images/toolIcon.png");
}

QString Plugin_Com_Device::getDocBriefPath() const
{
    return getDocPath() + QStringLiteral("/help/brief.html");
}

QString Plugin_Com_Device::getDocMainPath() const
{
    return getDocPath() + QStringLiteral("/help/main.html");
}
