#include "tests/testcan/TestCanFactory.h"

#include "tests/testcan/TestCanBackend.h"
#include "tests/testcan/TestCanControl.h"

#include <QCoreApplication>
#include <QVariant>

QList<QCanBusDeviceInfo> TestCanFactory::availableDevices(QString *errorMessage) const
{
    const QVariant configured = QCoreApplication::instance()->property(TestCan::interfaces);
    const QStringList names = configured.isValid() ? configured.toStringList()
                                                   : QStringList{QStringLiteral("test0"), QStringLiteral("test1")};
    QList<QCanBusDeviceInfo> infos;
    for (const QString &name : names)
        infos.append(TestCanBackend::interfaceInfo(name));
    const QString error = QCoreApplication::instance()->property(TestCan::enumerationError).toString();
    if (errorMessage && !error.isEmpty())
        *errorMessage = error;
    return infos;
}

QCanBusDevice *TestCanFactory::createDevice(const QString &interfaceName, QString *errorMessage) const
{
    if (interfaceName == QLatin1String(TestCan::refuseCreate)) {
        if (errorMessage)
            *errorMessage = QString::fromLatin1(TestCan::refuseCreateError);
        return nullptr;
    }
    return new TestCanBackend(interfaceName);
}
