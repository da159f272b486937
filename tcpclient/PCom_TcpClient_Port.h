#pragma once

#include "network/PCom_SocketClientPort.h"

class PCom_SocketTls;
class QTcpSocket;

// One outgoing TCP connection to the server at "address" and "port", in TLS
// when its PCom_TlsSettings face says so: then it is open once the
// handshake is over, and Qt, which cannot end a TLS stream's write direction
// alone, leaves closeWrite() to refuse.
class PCom_TcpClient_Port : public PCom_SocketClientPort
{
    Q_OBJECT
public:
    explicit PCom_TcpClient_Port(Plugin_Com_Device *device);
    ~PCom_TcpClient_Port() override;

    int writeByteStream(const char *data, int len) override;
    int readByteStream(char *buffer, int maxLen) override;
    AbstractTreeItem *createInstance() override;

    bool canCloseWrite() const override { return true; }
    bool closeWrite() override;
    LinkState linkState() const override;

protected:
    QAbstractSocket *createSocket() override;
    void startLink() override;
    ErrorTexts errorTexts() const override;
    bool refreshesLocksOnRefusedOpen() const override;
    QString resetReason() override;

private:
    void finishWriteIfSent();
    void watchConnection();
    void closeWatch();

    quint16 m_port = 0;
    QString m_address;
    // closeWrite() was asked and the queued bytes are still leaving.
    bool m_writeClosing = false;
    // A second descriptor of the connected socket, kept while it is up: Qt
    // closes its own on a reset as on an orderly end, this one still tells
    // the kernel's view (see resetReason()).
    int m_watch = -1;
    qint64 m_leftForKernel = 0;
    bool m_writeShut = false;
    PCom_SocketTls *m_tls;
};
