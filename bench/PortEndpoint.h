#pragma once

#include "bench/BenchEndpoint.h"

class Plugin_Com_Port;

// A plug-in port used the way a host uses it: writeRawData and readRawData,
// with a frame identifier when the port carries frames.
class PortEndpoint : public BenchEndpoint
{
    Q_OBJECT
public:
    explicit PortEndpoint(Plugin_Com_Port *port, unsigned int frameId = 0x123, QObject *parent = nullptr);

    qint64 write(const char *data, qint64 len) override;
    qint64 read(char *buffer, qint64 maxLen) override;

private:
    Plugin_Com_Port *m_port;
    bool m_frames;
    unsigned int m_frameId;
};
