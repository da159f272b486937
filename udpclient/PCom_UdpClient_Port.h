#pragma once

#include "PCom_Port.h"

#include <QAbstractSocket>
#include <QHostAddress>

class QNetworkSession;
class QUdpSocket;

// One UDP socket bound to "bind-address" and "bind-port". Every write is one
// datagram to "address" and "port"; every read takes one datagram from any
// sender. The socket exists from a successful open until it reports that it
// disconnected or failed; its existence is the port's opened state.
class PCom_UdpClient_Port : public PCom_Port
{
    Q_OBJECT
public:
    explicit PCom_UdpClient_Port(Plugin_Com_Device *device);
    ~PCom_UdpClient_Port() override;

    int writeByteStream(const char *data, int len) override;
    int readByteStream(char *buffer, int maxLen) override;
    bool opened() const override;
    QVariant getTavlinProperty(QString name) const override;
    AbstractTreeItem *createInstance() override;

    bool openPrivate(QFlags<OpenModeFlag> mode) override;
    void closePrivate() override;

protected:
    void applyProperty(const QString &name, const QVariant &value) override;

private slots:
    void onSessionOpened();
    void onHostFound();
    void onSocketConnected();
    void onSocketDisconnected();
    void onDisplayError(QAbstractSocket::SocketError socketError);

private:
    void onSessionFailed();
    void dropPendingOpen();

    // Qt 5.15 deprecates the bearer classes, yet they are still how a
    // platform tells that it needs a session.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QNetworkSession *m_networkSession = nullptr;
    QT_WARNING_POP
    QUdpSocket *m_socket = nullptr;
    QString m_bindAddress;
    quint16 m_bindPort = 0;
    quint16 m_port = 0;
    QString m_address;
    // m_address parsed: where every datagram goes.
    QHostAddress m_destination;
};
