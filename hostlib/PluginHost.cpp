#include "hostlib/PluginHost.h"

#include "host/PluginInterface_Com.h"
#include "host/Plugin_Com_Device.h"
#include "host/Plugin_Com_Port.h"
#include "host/TavlinProperty.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QPluginLoader>
#include <QRegularExpression>

PluginHost::PluginHost() = default;

PluginHost::~PluginHost()
{
    // Devices and ports are gone by now; the library itself stays mapped so
    // that nothing of it runs after an unload.
    delete m_loader;
}

bool PluginHost::load(const QString &file, QString *error)
{
    if (!file.isEmpty())
        return loadFile(file, error);
    const QStringList candidates = defaultPluginFiles();
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isFile())
            return loadFile(candidate, error);
    }
    *error = QStringLiteral("no plug-in file found (looked for %1); name one with --plugin FILE")
                 .arg(candidates.join(QStringLiteral(", ")));
    return false;
}

bool PluginHost::loadFile(const QString &file, QString *error)
{
    m_loader = new QPluginLoader(file);
    if (!m_loader->load()) {
        *error = QStringLiteral("cannot load the plug-in %1: %2").arg(file, m_loader->errorString());
        return false;
    }
    m_plugin = qobject_cast<PluginInterface_Com *>(m_loader->instance());
    if (!m_plugin) {
        *error = QStringLiteral("%1 is no communication plug-in of this host").arg(file);
        return false;
    }
    m_fileName = QFileInfo(file).absoluteFilePath();
    // The same library as the loader's, so resolving loads nothing again.
    s_lookup = reinterpret_cast<PCom_LinkStatusLookup>(QLibrary::resolve(m_fileName, PCom_LinkStatus_lookupSymbol));
    if (!s_lookup) {
        *error = QStringLiteral("%1 has no typed interface for hosts (%2)").arg(file, QLatin1String(PCom_LinkStatus_lookupSymbol));
        return false;
    }
    return true;
}

PCom_LinkStatusLookup PluginHost::s_lookup = nullptr;

PCom_LinkStatus *PluginHost::linkStatus(const Plugin_Com_Port *port)
{
    // The lookup changes nothing; its C signature just has no const.
    return port && s_lookup ? s_lookup(const_cast<Plugin_Com_Port *>(port)) : nullptr;
}

void PluginHost::setLinkStatusLookup(PCom_LinkStatusLookup lookup)
{
    s_lookup = lookup;
}

QList<PluginHost::DeviceInfo> PluginHost::devices() const
{
    QList<DeviceInfo> infos;
    if (!m_plugin)
        return infos;
    QList<Plugin_Com_Device *> devices;
    m_plugin->createDevices(devices);
    for (Plugin_Com_Device *device : devices) {
        DeviceInfo info;
        info.name = device->name();
        info.available = device->availablePorts();
        QFile brief(device->getDocBriefPath());
        if (brief.open(QIODevice::ReadOnly))
            info.brief = plainText(QString::fromUtf8(brief.readAll()));
        if (Plugin_Com_Port *port = device->createPort()) {
            info.typeKey = port->typeKey();
            if (const TavlinProperty *backEnds = port->tavlinProperty(QStringLiteral("interface")))
                info.backEnds = backEnds->options();
            device->deletePort(port);
        }
        m_plugin->deleteDevice(device);
        infos.append(info);
    }
    return infos;
}

QStringList PluginHost::typeKeys() const
{
    QStringList keys;
    for (const DeviceInfo &device : devices()) {
        if (!device.typeKey.isEmpty())
            keys.append(device.typeKey);
    }
    return keys;
}

QStringList PluginHost::defaultPluginFiles()
{
    const QString name = QStringLiteral(PCOM_PLUGIN_FILE_NAME);
    const QDir here(QCoreApplication::applicationDirPath());
    QStringList files;
    files << here.filePath(name) << here.filePath(QStringLiteral("plugins/") + name)
          << QDir::cleanPath(here.filePath(QStringLiteral(PCOM_PLUGIN_DIR_FROM_BINDIR "/") + name))
          << QStringLiteral(PCOM_BUILD_PLUGIN_FILE) << QStringLiteral(PCOM_INSTALLED_PLUGIN_FILE);
    files.removeDuplicates();
    return files;
}

QString PluginHost::plainText(const QString &html)
{
    QString text = html;
    text.remove(QRegularExpression(QStringLiteral("<(head|style|script|title)[^>]*>.*</\\1>"),
                                   QRegularExpression::CaseInsensitiveOption
                                       | QRegularExpression::DotMatchesEverythingOption
                                       | QRegularExpression::InvertedGreedinessOption));
    text.replace(QRegularExpression(QStringLiteral("<[^>]*>")), QStringLiteral(" "));
    text.replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
    text.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    text.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    text.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    text.replace(QStringLiteral("&#39;"), QStringLiteral("'"));
    text.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return text.simplified();
}
