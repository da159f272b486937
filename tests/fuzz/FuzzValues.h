#pragma once

#include <QString>
#include <QVariant>

#include <fuzzer/FuzzedDataProvider.h>

// Property values for the port fuzz target. Any name gets a value of any
// QVariant type, except the names that choose where a port goes: their
// values come from a fixed safe set (loopback addresses, ports of the fuzz
// process's own sinks, a pseudo-terminal, the private virtualcan relay),
// still wrapped in assorted QVariant types. So the fuzzer never sends a
// byte off loopback, never resolves a host name and never opens a real
// device.
class FuzzValues
{
public:
    // In the order of the type keys.
    enum Kind { Serial, Can, TcpServer, TcpClient, UdpClient };

    // The serial port's only real line, a TCP server, a UDP socket and the
    // virtualcan relay of the fuzz process.
    struct Endpoints {
        QString ptyPath;
        quint16 tcpSink = 0;
        quint16 udpSink = 0;
        quint16 relay = 0;
    };

    FuzzValues(FuzzedDataProvider &data, const Endpoints &endpoints) : m_data(data), m_endpoints(endpoints) {}

    // A property name: a known one, a near miss or arbitrary text.
    QString name();
    // A value for that name on a port of that kind.
    QVariant value(Kind kind, const QString &name);
    // The CAN interface a new CAN port starts with (never the relay's
    // default port, which other processes might use).
    QString canInterface();

private:
    QVariant anyValue();
    QVariant text(const QString &text);
    QVariant number(quint32 number);
    QString pick(const QStringList &choices);
    QString string(size_t maxLength);

    FuzzedDataProvider &m_data;
    const Endpoints &m_endpoints;
};
