#pragma once

#include "host/host_export.h"

#include <QHash>
#include <QString>

class Plugin_Com_Device;
class Version;

// Builds the help page that the host shows for a device: the device's page
// template with its name, tool icon, brief and port property table filled
// in, wrapped into a complete HTML document that needs no other file.
class HOST_EXPORT HelpRenderer
{
public:
    // A null string when the device has no readable page template.
    static QString render(Plugin_Com_Device *device, const Version &version);

    // Replaces every ${key} of the template in one pass, so that inserted
    // text is never scanned again; unknown placeholders stay as they are.
    static QString fillPlaceholders(const QString &templ, const QHash<QString, QString> &values);
};
