#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What every type key's embedded documentation must hold, byte for byte.
namespace ExpectedDocs {

inline QStringList typeKeys()
{
    return {QStringLiteral("com"), QStringLiteral("canBus"), QStringLiteral("tcpServer"),
            QStringLiteral("tcpClient"), QStringLiteral("udpClient")};
}

inline QString directory(const QString &key)
{
    return QStringLiteral(":/PCom_Core/") + key;
}

inline QString deviceName(const QString &key)
{
    if (key == QLatin1String("com"))
        return QStringLiteral("COM port");
    if (key == QLatin1String("canBus"))
        return QStringLiteral("CAN bus");
    if (key == QLatin1String("tcpServer"))
        return QStringLiteral("Ethernet TCP server");
    if (key == QLatin1String("tcpClient"))
        return QStringLiteral("Ethernet TCP client");
    if (key == QLatin1String("udpClient"))
        return QStringLiteral("Ethernet UDP client");
    return QString();
}

inline QByteArray briefLine(const QString &key)
{
    if (key == QLatin1String("com"))
        return "COM port interface";
    if (key == QLatin1String("canBus"))
        return "CAN interface (SocketCAN, PassThruCAN, SystecCAN, PeakCAN, TinyCAN, VectorCAN)";
    if (key == QLatin1String("tcpServer"))
        return "Ethernet TCP server";
    if (key == QLatin1String("tcpClient"))
        return "Ethernet TCP client";
    if (key == QLatin1String("udpClient"))
        return "Ethernet UDP client";
    return QByteArray();
}

inline QByteArray brief(const QString &key)
{
    return briefLine(key) + "\r\n";
}

inline QByteArray canNote()
{
    return "Note: In order for the CAN interface to be functional, make sure the required CAN dll "
           "is available in the PATH variable or copy the dll to the Tavlin bin directory.";
}

inline QByteArray mainPage(const QString &key)
{
    if (key == QLatin1String("canBus")) {
        return "<H1>${name}</H1>\r\n<br/>${icon}<br/>\r\n\r\n${brief}\r\n\r\n" + canNote()
            + "\r\n\r\n<h2>Properties</h2>\r\n${properties}\r\n";
    }
    return "<H1>${name}</H1>\r\n<br/>${icon}<br/>\r\n\r\n${brief}\r\n\r\n"
           "<h2>Properties</h2>\r\n${properties}";
}

inline QStringList fileNames()
{
    return {QStringLiteral("help/main.html"), QStringLiteral("help/brief.html"),
            QStringLiteral("images/toolIcon.png")};
}

} // namespace ExpectedDocs
