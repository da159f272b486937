#pragma once

#include "tcpclient/PCom_SocketClientPort.h"

class QTcpSocket;

// One outgoing TCP connection to the server at "address" and "port".
class PCom_TcpClient_Port : public PCom_SocketClientPort
{
    Q_OBJECT
public:
    explicit PCom_TcpClient_Port(Plugin_Com_Device *device);

    int writeByteStream(const char *data, int len) override;
    int readByteStream(char *buffer, int maxLen) override;
    QVariant getTavlinProperty(QString name) const override;
    AbstractTreeItem *createInstance() override;

protected:
    void applyProperty(const QString &name, const QVariant &value) override;
    QAbstractSocket *createSocket() override;
    void startLink() override;
    QString remoteClosedText() const override;
    bool refreshesLocksOnRefusedOpen() const override;

private:
    quint16 m_port = 0;
    QString m_address;
};
