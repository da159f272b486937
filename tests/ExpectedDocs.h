#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What every type key's embedded documentation must hold, byte for byte.
namespace ExpectedDocs {

struct Kind {
    QString key;
    QString deviceName;
    QByteArray briefLine;
};

// In the order in which the factory creates all devices at once.
inline QList<Kind> kinds()
{
    return {{"com", "COM port", "COM port interface"},
            {"canBus", "CAN bus", "CAN interface (SocketCAN, PassThruCAN, SystecCAN, PeakCAN, TinyCAN, VectorCAN)"},
            {"tcpServer", "Ethernet TCP server", "Ethernet TCP server"},
            {"tcpClient", "Ethernet TCP client", "Ethernet TCP client"},
            {"udpClient", "Ethernet UDP client", "Ethernet UDP client"}};
}

inline QString directory(const QString &key)
{
    return QStringLiteral(":/PCom_Core/") + key;
}

inline QByteArray canNote()
{
    return "Note: In order for the CAN interface to be functional, make sure the required CAN dll "
           "is available in the PATH variable or copy the dll to the Tavlin bin directory.";
}

// Only the CAN page has the note, and only it ends with a line end.
inline QByteArray mainPage(const QString &key)
{
    const QByteArray head = "<H1>${name}</H1>\r\n<br/>${icon}<br/>\r\n\r\n${brief}\r\n\r\n";
    if (key == QLatin1String("canBus"))
        return head + canNote() + "\r\n\r\n<h2>Properties</h2>\r\n${properties}\r\n";
    return head + "<h2>Properties</h2>\r\n${properties}";
}

} // namespace ExpectedDocs
