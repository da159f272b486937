#include "tcpclient/PCom_TcpClient_Port.h"

#include "host/TavlinProperty_RegexValidator.h"

#include <QDebug>
#include <QIntValidator>
#include <QTcpSocket>

PCom_TcpClient_Port::PCom_TcpClient_Port(Plugin_Com_Device *device)
    : PCom_SocketClientPort(device, QStringLiteral("tcpClient"))
{
    declareRecord(QStringLiteral("plugin"), TavlinProperty::FreeText, QString(), QStringLiteral("Plugin name"))
        ->setWritable(false);
    declareRecord(QStringLiteral("address"), TavlinProperty::FreeText, QStringLiteral("127.0.0.1"),
                  QStringLiteral("Server IP address to connect to"),
                  new TavlinProperty_RegexValidator(TavlinProperty_RegexValidator::IpAddress));
    declareRecord(QStringLiteral("port"), TavlinProperty::FreeText, QStringLiteral("0"),
                  QStringLiteral("Server port to connect to"), new QIntValidator(0, 65535, nullptr));
    declareRecord(QStringLiteral("connect"), TavlinProperty::Boolean, QStringLiteral("false"),
                  QStringLiteral("Enable / disable the connection to the server"));
}

QAbstractSocket *PCom_TcpClient_Port::createSocket()
{
    return new QTcpSocket(nullptr);
}

// The address may be a host name; the socket resolves it.
void PCom_TcpClient_Port::startLink()
{
    m_socket->connectToHost(m_address, m_port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

QString PCom_TcpClient_Port::remoteClosedText() const
{
    return tr("The server closed the connection.");
}

bool PCom_TcpClient_Port::refreshesLocksOnRefusedOpen() const
{
    return false;
}

int PCom_TcpClient_Port::writeByteStream(const char *data, int len)
{
    if (!m_socket)
        return 0;
    const qint64 written = m_socket->write(data, qint64(len));
    if (written == len)
        return len;
    qCritical().noquote() << QStringLiteral("PCom_TcpClient_Port: %1 byte could not be send")
                                 .arg(bytesNotAccepted(len, written));
    return int(written);
}

int PCom_TcpClient_Port::readByteStream(char *buffer, int maxLen)
{
    if (!m_socket || m_socket->bytesAvailable() == 0)
        return -1;
    const int count = int(m_socket->read(buffer, maxLen));
    return count == 0 ? -1 : count;
}

QVariant PCom_TcpClient_Port::getTavlinProperty(QString name) const
{
    if (name == QLatin1String("plugin"))
        return pluginText();
    if (name == QLatin1String("port"))
        return int(m_port);
    if (name == QLatin1String("address"))
        return m_address;
    if (name == QLatin1String("connect"))
        return opened();
    return QVariant();
}

// The endpoint is stored even while open; it takes effect at the next open.
void PCom_TcpClient_Port::applyProperty(const QString &name, const QVariant &value)
{
    if (name == QLatin1String("port"))
        m_port = quint16(value.toUInt());
    else if (name == QLatin1String("address"))
        m_address = value.toString();
}

AbstractTreeItem *PCom_TcpClient_Port::createInstance()
{
    return new PCom_TcpClient_Port(device());
}
