#pragma once

#include "core/PCom_Port.h"

#include <QList>
#include <QSerialPort>

class PCom_Com_Line;

// One serial line, opened at the baud rate last written. The host framework
// sees only "device" and "baudrate"; hosts of ours reach the other line
// settings, and learn of a line that hung up, through the port's companion
// (PCom_Com_Line).
class PCom_Com_Port : public PCom_Port
{
    Q_OBJECT
public:
    explicit PCom_Com_Port(Plugin_Com_Device *device);
    ~PCom_Com_Port() override;

    bool opened() const override;
    bool openPrivate(QFlags<OpenModeFlag> mode) override;
    void closePrivate() override;

    int writeByteStream(const char *data, int len) override;
    int readByteStream(char *buffer, int maxLen) override;

    AbstractTreeItem *createInstance() override;

    qint64 bytesToWrite() const override;
    QString lastErrorString() const override;
    void setReadBufferSize(qint64 size) override;

    static QList<qint32> standardBaudRates();

protected:
    void traceSet(const QString &name, const QVariant &value) override;

private:
    QSerialPort m_serialPort;
    PCom_Com_Line *m_line;
};
