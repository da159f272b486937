// libFuzzer target: the decoders of CAN frames in MQTT payloads (candump
// text and the binary form) on arbitrary bytes. A payload taken in one form
// must come out of both forms as the same frame.

#include "hostlib/CanLineParser.h"
#include "hostlib/MqttFrameCodec.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstdint>

namespace {

void roundTrip(const QByteArray &payload, MqttFrameCodec::Form form)
{
    QCanBusFrame frame, fromText, fromBinary;
    QString error;
    if (!MqttFrameCodec::decode(payload, form, &frame, &error))
        return check(!error.isEmpty());
    check(frame.isValid() && frame.frameType() != QCanBusFrame::ErrorFrame);
    check(MqttFrameCodec::decode(MqttFrameCodec::encode(frame, MqttFrameCodec::Text), MqttFrameCodec::Text, &fromText,
                                 &error));
    check(MqttFrameCodec::decode(MqttFrameCodec::encode(frame, MqttFrameCodec::Binary), MqttFrameCodec::Binary,
                                 &fromBinary, &error));
    const QByteArray line = CanLineParser::format(frame);
    check(CanLineParser::format(fromText) == line && CanLineParser::format(fromBinary) == line);
    check(MqttFrameCodec::encode(fromText, MqttFrameCodec::Binary)
          == MqttFrameCodec::encode(frame, MqttFrameCodec::Binary));
    check(!MqttFrameCodec::topicId(frame).isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray payload(reinterpret_cast<const char *>(bytes), int(size));
    roundTrip(payload, MqttFrameCodec::Text);
    roundTrip(payload, MqttFrameCodec::Binary);
    return 0;
}
