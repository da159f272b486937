#include "cli/PortRequest.h"

#include "cli/PluginHost.h"
#include "cli/PortHandle.h"
#include "host/Plugin_Com_Port.h"

PortRequest PortRequest::fromWords(const QStringList &words)
{
    PortRequest request;
    if (words.isEmpty())
        return request;
    request.typeKey = words.first();
    for (int i = 1; i < words.size(); ++i)
        request.assignments.append(PropertyAssigner::parse(words.at(i)));
    return request;
}

std::unique_ptr<PortHandle> PortRequest::create(PluginHost &host, QString *error) const
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

bool PortRequest::configure(PortHandle &handle, QString *error) const
{
    PropertyAssigner::writeDefaults(handle.port(), assignments);
    return PropertyAssigner::assign(handle.port(), assignments, error);
}

bool PortRequest::open(PortHandle &handle)
{
    return handle.port()->setTavlinProperty(QStringLiteral("connect"), true).toBool();
}
