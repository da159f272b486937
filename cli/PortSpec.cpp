#include "PortSpec.h"

#include "PluginHost.h"
#include "PortHandle.h"
#include "Plugin_Com_Port.h"

PortSpec PortSpec::fromWords(const QStringList &words)
{
    PortSpec spec;
    if (words.isEmpty())
        return spec;
    spec.typeKey = words.first();
    for (int i = 1; i < words.size(); ++i)
        spec.assignments.append(PropertyAssigner::parse(words.at(i)));
    return spec;
}

std::unique_ptr<PortHandle> PortSpec::create(PluginHost &host, QString *error) const
{
    if (typeKey.isEmpty()) {
        *error = QStringLiteral("no port type given; types: %1").arg(host.typeKeys().join(QStringLiteral(", ")));
        return nullptr;
    }
    std::unique_ptr<PortHandle> handle = PortHandle::create(host.plugin(), typeKey);
    if (!handle) {
        *error = QStringLiteral("unknown port type '%1'; types: %2")
                     .arg(typeKey, host.typeKeys().join(QStringLiteral(", ")));
        return nullptr;
    }
    return handle;
}

bool PortSpec::configure(PortHandle &handle, QString *error) const
{
    PropertyAssigner::writeDefaults(handle.port(), assignments);
    return PropertyAssigner::assign(handle.port(), assignments, error);
}

bool PortSpec::open(PortHandle &handle)
{
    return handle.port()->setTavlinProperty(QStringLiteral("connect"), true).toBool();
}
