#include "tests/testcan/TestCanBackend.h"

#include "tests/testcan/TestCanControl.h"

#include <QCanBusFrame>
#include <QCoreApplication>
#include <QPointer>
#include <QVariantMap>

TestCanBackend::TestCanBackend(const QString &interfaceName) : m_interfaceName(interfaceName)
{
    qApp->setProperty(TestCan::lastDevice, QVariant::fromValue(static_cast<QObject *>(this)));
    if (qApp->property(TestCan::busStatus).isValid())
        setCanBusStatusGetter([] { return CanBusStatus(qApp->property(TestCan::busStatus).toInt()); });
}

TestCanBackend::~TestCanBackend()
{
    if (qApp->property(TestCan::lastDevice).value<QObject *>() == this)
        qApp->setProperty(TestCan::lastDevice, QVariant());
}

bool TestCanBackend::open()
{
    const bool fails = m_interfaceName == QLatin1String(TestCan::failConnect);
    fails ? setError(QString::fromLatin1(TestCan::failConnectError), ConnectionError) : setState(ConnectedState);
    return !fails;
}

void TestCanBackend::close()
{
    qApp->setProperty(TestCan::lastDisconnected, m_interfaceName);
    setState(UnconnectedState);
}

bool TestCanBackend::writeFrame(const QCanBusFrame &frame)
{
    const bool accepted = frame.isValid() && !property(TestCan::refuseWrites).toBool();
    setProperty(TestCan::written, property(TestCan::written).toList() << QVariantMap{
        {"id", frame.frameId()}, {"payload", frame.payload()}, {"type", int(frame.frameType())},
        {"extended", frame.hasExtendedFrameFormat()}, {"fd", frame.hasFlexibleDataRateFormat()},
        {"valid", frame.isValid()}, {"accepted", accepted}});
    if (accepted)
        emit framesWritten(1);
    return accepted;
}

QString TestCanBackend::interpretErrorFrame(const QCanBusFrame &errorFrame)
{
    return QStringLiteral("testcan error frame 0x%1").arg(uint(errorFrame.error()), 0, 16);
}

void TestCanBackend::injectFrame(int frameType, uint frameId, const QByteArray &payload)
{
    QCanBusFrame frame(frameId, payload);
    frame.setFrameType(QCanBusFrame::FrameType(frameType));
    if (frame.frameType() == QCanBusFrame::ErrorFrame)
        frame.setError(QCanBusFrame::BusOffError);
    enqueueReceivedFrames({frame});
}

void TestCanBackend::loseBus()
{
    // As a real back-end does when its bus goes, it still uses itself after
    // telling: the socket under it closes after it emitted its end.
    const QPointer<TestCanBackend> self(this);
    setState(UnconnectedState);
    qApp->setProperty(TestCan::survivedLoss, !self.isNull());
}

QList<QCanBusDeviceInfo> TestCanFactory::availableDevices(QString *errorMessage) const
{
    const QVariant configured = qApp->property(TestCan::interfaces);
    QList<QCanBusDeviceInfo> infos;
    for (const QString &name : configured.isValid() ? configured.toStringList() : QStringList{"test0", "test1"})
        infos.append(TestCanBackend::interfaceInfo(name));
    if (errorMessage && !qApp->property(TestCan::enumerationError).toString().isEmpty())
        *errorMessage = qApp->property(TestCan::enumerationError).toString();
    return infos;
}

QCanBusDevice *TestCanFactory::createDevice(const QString &interfaceName, QString *errorMessage) const
{
    const bool refused = interfaceName == QLatin1String(TestCan::refuseCreate);
    if (refused && errorMessage)
        *errorMessage = QString::fromLatin1(TestCan::refuseCreateError);
    return refused ? nullptr : new TestCanBackend(interfaceName);
}
