#pragma once

#include "core/PCom_CanFrameType.h"
#include "core/PCom_Port.h"

#include <QCanBusDevice>
#include <QPointer>
#include <QStringList>

class PCom_CanBus_Device;
class PCom_CanBus_Frames;

// One CAN interface of the device's back-end, opened at the bit rate last
// written. Every call sends or takes exactly one frame with its identifier;
// frames wait in the Qt CAN device until read.
class PCom_CanBus_Port : public PCom_Port
{
    Q_OBJECT
public:
    explicit PCom_CanBus_Port(PCom_CanBus_Device *device);
    ~PCom_CanBus_Port() override;

    int writeRawData(const char *data, int len, unsigned int frameId) override;
    int writeByteStream(const char *data, int len, unsigned int frameId) override;
    int readRawData(char *buffer, int maxLen, unsigned int *frameId) override;
    int readByteStream(char *buffer, int maxLen, unsigned int *frameId) override;

    // A CAN link carries frames only: the plain byte operations do nothing.
    int writeRawData(const char *data, int len) override;
    int writeByteStream(const char *data, int len) override;
    int readRawData(char *buffer, int maxLen) override;
    int readByteStream(char *buffer, int maxLen) override;

    bool usesFrameIds() const override;

    bool opened() const override;
    bool openPrivate(QFlags<OpenModeFlag> mode) override;
    void closePrivate() override;

    AbstractTreeItem *createInstance() override;

    LinkState linkState() const override;
    qint64 bytesToWrite() const override;
    QString lastErrorString() const override;
    // Drops a closed device that still sends, with what it holds.
    void abortLink() override;
    void setReadBufferSize(qint64 size) override;

    static QStringList standardBaudRates();

protected:
    void traceSet(const QString &name, const QVariant &value) override;

private slots:
    void onError(QCanBusDevice::CanBusError error);
    void onFrameWritten(qint64 framesCount);

private:
    // A device that leaves the connected state without being asked to has
    // lost its bus.
    void onStateChanged(QCanBusDevice::CanBusDeviceState state);
    bool sendFrame(const char *data, int len, unsigned int frameId);
    // Keeps a closed device until it has sent what it took and left the bus.
    void letLeave(QCanBusDevice *device);

    // How long a closed device may take to send what it holds.
    static const int leaveMs = 5000;

    PCom_CanBus_Device *m_device;
    PCom_CanBus_Frames *m_frames;
    QCanBusDevice *m_canDevice = nullptr;
    // Closed, still sending: the port reads as closing until it is gone.
    QPointer<QCanBusDevice> m_leaving;
    QString m_deviceName;
    QString m_baudRate;
    QString m_lastError;
    // Above 0 while one of the CAN device's signals reaches this port (frames
    // received or written, an error, a state change), that is while the
    // host's readyRead(), bytesWritten() or linkLost() handler may run: a
    // close from there must not delete the device under its own signal.
    int m_inDeviceSignal = 0;
};
