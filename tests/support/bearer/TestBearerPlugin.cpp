#include "TestBearerPlugin.h"

#include "TestBearerEngine.h"

QBearerEngine *TestBearerPlugin::create(const QString &key) const
{
    return key == QLatin1String("pcomtest") ? new TestBearerEngine : nullptr;
}
