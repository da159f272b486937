#pragma once

#include <QByteArray>
#include <QCanBusFrame>
#include <QString>

// CAN frames as the payloads of MQTT messages, one frame per message:
// - Text: the cansend line of CanLineParser ("123#DEADBEEF", "12345678#11",
//   "123#R4", "123##1..."); a line end after it is taken.
// - Binary: 5 bytes of head, then the data:
//     bytes 0-3  identifier, big-endian; bit 31 extended format, bit 30
//                remote request, bit 29 error frame (the identifier then
//                holds Qt's error flags; never taken in)
//     byte 4     bit 0 flexible data rate, bit 1 bit-rate switch, bit 2
//                error state indicator, bits 4-7 a remote request's length
//     bytes 5-   the data: 0 to 8 bytes, a flexible-data-rate frame 0 to 8,
//                12, 16, 20, 24, 32, 48 or 64; none for a remote request
// topicId() is the identifier as it appears in a line ("123", "12345678"),
// the last level of a topic per identifier.
// Pure functions: no event loop, usable from fuzz targets.
class MqttFrameCodec
{
public:
    enum Form {
        Text,
        Binary,
    };

    static QByteArray encode(const QCanBusFrame &frame, Form form);
    // False, with the reason in *error, when the payload is no frame that
    // can be sent.
    static bool decode(const QByteArray &payload, Form form, QCanBusFrame *frame, QString *error);
    static QByteArray topicId(const QCanBusFrame &frame);

    static constexpr int headSize = 5;
};
