// libFuzzer target: the command-line host's CAN line parser, hex codec and
// input decoder on arbitrary text. Beyond not failing, parsed frames and
// decoded bytes must survive a round trip through their own formats.

#include "hostlib/CanLineParser.h"
#include "hostlib/HexCodec.h"
#include "hostlib/DataCodec.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstdint>
#include <tuple>

namespace {

void canLine(const QByteArray &line)
{
    QCanBusFrame frame, again;
    QString error;
    qint64 time = 0;
    if (CanLineParser::parseLog(line, &frame, &time, &error))
        check(time >= 0
              && CanLineParser::parseLog(CanLineParser::formatLog(frame, "can0", time), &again, &time, &error));
    if (!CanLineParser::parse(line, &frame, &error))
        return check(!error.isEmpty());
    check(frame.isValid());
    check(frame.payload().size() <= (frame.hasFlexibleDataRateFormat() ? CanLineParser::maxFlexiblePayload
                                                                       : CanLineParser::maxClassicPayload));
    check(CanLineParser::parse(CanLineParser::format(frame), &again, &error));
    check(CanLineParser::format(again) == CanLineParser::format(frame));
    CanLineParser::formatCandump(frame, "can0");
    CanLineParser::Filter filter;
    if (CanLineParser::parseFilter(QString::fromLatin1(line), &filter, &error))
        CanLineParser::passes({filter}, frame);
}

void hex(const QByteArray &text)
{
    QByteArray decoded, again;
    QString error;
    if (HexCodec::decode(text, &decoded, &error))
        check(HexCodec::decode(HexCodec::encode(decoded), &again, &error) && again == decoded);
    else
        check(!error.isEmpty());
    HexCodec::dump(text, text.size());
}

// The input in two pieces cut at the first byte's position: lines that
// straddle the cut must come out as if fed at once.
void decoder(DataCodec::Mode mode, const QByteArray &input)
{
    const int cut = input.isEmpty() ? 0 : uchar(input.at(0)) % (input.size() + 1);
    // The bytes of all items, the number of items and of problems.
    const auto decoded = [mode](const QByteArrayList &parts) {
        DataCodec codec(mode);
        QList<DataCodec::Item> items;
        QList<DataCodec::Problem> problems;
        for (const QByteArray &part : parts)
            codec.feed(part, &items, &problems);
        codec.finish(&items, &problems);
        QByteArray data;
        for (const auto &item : items)
            data += item.data;
        return std::make_tuple(data, items.size(), problems.size());
    };
    const auto whole = decoded({input});
    const auto pieces = decoded({input.left(cut), input.mid(cut)});
    // Raw data goes on as it comes, in items of any size.
    check(std::get<0>(whole) == std::get<0>(pieces) && std::get<2>(whole) == std::get<2>(pieces));
    check(mode == DataCodec::Raw ? std::get<0>(whole) == input : whole == pieces);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(bytes), int(size));
    // The whole input, then each of its lines.
    for (const QByteArray &line : QByteArrayList{input} + input.split('\n')) {
        canLine(line);
        hex(line);
    }
    for (DataCodec::Mode mode : {DataCodec::Raw, DataCodec::Hex, DataCodec::Frames})
        decoder(mode, input);
    return 0;
}
