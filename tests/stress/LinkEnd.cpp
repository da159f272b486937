#include "tests/stress/LinkEnd.h"

#include "host/Plugin_Com_Port.h"

#include <QIODevice>

LinkEnd LinkEnd::port(Plugin_Com_Port *port)
{
    return {[port](const char *data, int size) { return qint64(port->writeRawData(data, size)); },
            [port](char *buffer, int size) { return qint64(port->readRawData(buffer, size)); },
            [port](StreamTransfer *transfer) {
                QObject::connect(port, &Plugin_Com_Port::readyRead, transfer, &StreamTransfer::pump);
            }};
}

LinkEnd LinkEnd::device(QIODevice *device)
{
    return {[device](const char *data, int size) { return device->write(data, size); },
            [device](char *buffer, int size) { return device->read(buffer, size); },
            [device](StreamTransfer *transfer) {
                QObject::connect(device, &QIODevice::readyRead, transfer, &StreamTransfer::pump);
            }};
}
