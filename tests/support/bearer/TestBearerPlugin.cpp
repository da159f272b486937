#include "tests/support/bearer/TestBearerPlugin.h"

#include "tests/support/bearer/TestBearerEngine.h"

QBearerEngine *TestBearerPlugin::create(const QString &key) const
{
    return key == QLatin1String("pcomtest") ? new TestBearerEngine : nullptr;
}
