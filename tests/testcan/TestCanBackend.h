#pragma once

#include <QCanBusDevice>
#include <QCanBusFactoryV2>

// A CAN device without hardware: it connects at once, keeps what it is asked
// to write and receives what the test injects.
class TestCanBackend : public QCanBusDevice
{
    Q_OBJECT
public:
    explicit TestCanBackend(const QString &interfaceName);
    ~TestCanBackend() override;

    static QCanBusDeviceInfo interfaceInfo(const QString &name) { return createDeviceInfo(name, true, true); }

    bool writeFrame(const QCanBusFrame &frame) override;
    QString interpretErrorFrame(const QCanBusFrame &errorFrame) override;

    Q_INVOKABLE void injectError(int code, const QString &text) { setError(text, CanBusError(code)); }
    Q_INVOKABLE void resetError() { clearError(); }
    Q_INVOKABLE void injectFrame(int frameType, uint frameId, const QByteArray &payload);
    Q_INVOKABLE void loseBus();

protected:
    bool open() override;
    void close() override;

private:
    QString m_interfaceName;
};

// The "testcan" back-end as Qt's CAN bus module loads it.
class TestCanFactory : public QObject, public QCanBusFactoryV2
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QCanBusFactory" FILE "testcan.json")
    Q_INTERFACES(QCanBusFactoryV2)
public:
    QList<QCanBusDeviceInfo> availableDevices(QString *errorMessage) const override;
    QCanBusDevice *createDevice(const QString &interfaceName, QString *errorMessage) const override;
};
