#pragma once

#include "core/PCom_Port.h"

#include <QList>
#include <QSerialPort>

// One serial line, opened at the baud rate last written; every other line
// setting stays at Qt's default.
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

    QVariant getTavlinProperty(QString name) const override;
    AbstractTreeItem *createInstance() override;

    static QList<qint32> standardBaudRates();

protected:
    void traceSet(const QString &name, const QVariant &value) override;
    void applyProperty(const QString &name, const QVariant &value) override;

private:
    QSerialPort m_serialPort;
};
