#include "tests/testcan/TestCanBackend.h"

#include "tests/testcan/TestCanControl.h"

#include <QCanBusFrame>
#include <QCoreApplication>
#include <QVariantMap>

TestCanBackend::TestCanBackend(const QString &interfaceName)
    : m_interfaceName(interfaceName)
{
    QCoreApplication::instance()->setProperty(TestCan::lastDevice, QVariant::fromValue(static_cast<QObject *>(this)));
}

TestCanBackend::~TestCanBackend()
{
    if (QCoreApplication::instance()->property(TestCan::lastDevice).value<QObject *>() == this)
        QCoreApplication::instance()->setProperty(TestCan::lastDevice, QVariant());
}


void TestCanBackend::setConfigurationParameter(int key, const QVariant &value)
{
    if (key == BitRateKey && m_interfaceName == QLatin1String(TestCan::noBitRate))
        return;
    QCanBusDevice::setConfigurationParameter(key, value);
}

bool TestCanBackend::open()
{
    if (m_interfaceName == QLatin1String(TestCan::failConnect)) {
        setError(QString::fromLatin1(TestCan::failConnectError), ConnectionError);
        return false;
    }
    setState(ConnectedState);
    return true;
}

void TestCanBackend::close()
{
    QCoreApplication::instance()->setProperty(TestCan::lastDisconnected, m_interfaceName);
    setState(UnconnectedState);
}

bool TestCanBackend::writeFrame(const QCanBusFrame &frame)
{
    const bool accepted = frame.isValid() && !property(TestCan::refuseWrites).toBool();
    QVariantList frames = property(TestCan::written).toList();
    frames.append(QVariantMap{
        {QStringLiteral("id"), frame.frameId()},
        {QStringLiteral("payload"), frame.payload()},
        {QStringLiteral("type"), int(frame.frameType())},
        {QStringLiteral("extended"), frame.hasExtendedFrameFormat()},
        {QStringLiteral("fd"), frame.hasFlexibleDataRateFormat()},
        {QStringLiteral("valid"), frame.isValid()},
        {QStringLiteral("accepted"), accepted},
    });
    setProperty(TestCan::written, frames);
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
