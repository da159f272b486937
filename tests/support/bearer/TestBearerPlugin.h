#pragma once

#include <QtNetwork/private/qbearerplugin_p.h>

// A bearer plug-in for tests: its one engine makes Qt's configuration
// manager report that network sessions are required.
class TestBearerPlugin : public QBearerEnginePlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QBearerEngineFactoryInterface_iid FILE "TestBearerPlugin.json")
public:
    QBearerEngine *create(const QString &key) const override;
};
