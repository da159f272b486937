#pragma once

#include "host/Plugin_Com_Device.h"

// What the five device kinds share: a display name, a type key that names
// the resource directory, ports made by the kind and deleted here, and the
// property table documented from a throw-away port. A kind supplies what it
// can connect to and how to make its port.
class PCom_Device : public Plugin_Com_Device
{
public:
    PCom_Device(PluginInterface_Com *plugin, ComInterface *com, const QString &name, const QString &typeKey);

    QString typeKey() const { return m_typeKey; }

    void deletePort(Plugin_Com_Port *port) override;
    QString getDocPath() const override;
    QString getChildPropertyDoc(const Version &version) override;

private:
    QString m_typeKey;
};
