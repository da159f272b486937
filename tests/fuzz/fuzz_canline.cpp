// libFuzzer target: the command-line host's CAN line parser, hex codec and
// input decoder on arbitrary text. Beyond not failing, parsed frames and
// decoded bytes must survive a round trip through their own formats.

#include "hostlib/CanLineParser.h"
#include "hostlib/HexCodec.h"
#include "hostlib/DataCodec.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

void canLine(const QByteArray &line)
{
    QCanBusFrame frame;
    QString error;
    if (!CanLineParser::parse(line, &frame, &error)) {
        check(!error.isEmpty());
        return;
    }
    check(frame.isValid());
    check(frame.payload().size() <= (frame.hasFlexibleDataRateFormat() ? CanLineParser::maxFlexiblePayload
                                                                       : CanLineParser::maxClassicPayload));
    QCanBusFrame again;
    check(CanLineParser::parse(CanLineParser::format(frame), &again, &error));
    check(CanLineParser::format(again) == CanLineParser::format(frame));
    CanLineParser::formatCandump(frame, "can0");
    CanLineParser::Filter filter;
    if (CanLineParser::parseFilter(QString::fromLatin1(line), &filter, &error))
        CanLineParser::passes({filter}, frame);
}

void hex(const QByteArray &text)
{
    QByteArray decoded;
    QString error;
    if (HexCodec::decode(text, &decoded, &error)) {
        QByteArray again;
        check(HexCodec::decode(HexCodec::encode(decoded), &again, &error));
        check(again == decoded);
    } else {
        check(!error.isEmpty());
    }
    HexCodec::dump(text, text.size());
}

// The input in two pieces cut at the first byte's position: lines that
// straddle the cut must come out as if fed at once.
void decoder(DataCodec::Mode mode, const QByteArray &input)
{
    const int cut = input.isEmpty() ? 0 : uchar(input.at(0)) % (input.size() + 1);
    DataCodec whole(mode);
    DataCodec pieces(mode);
    QList<DataCodec::Item> wholeItems, pieceItems;
    QList<DataCodec::Problem> wholeProblems, pieceProblems;
    whole.feed(input, &wholeItems, &wholeProblems);
    whole.finish(&wholeItems, &wholeProblems);
    pieces.feed(input.left(cut), &pieceItems, &pieceProblems);
    pieces.feed(input.mid(cut), &pieceItems, &pieceProblems);
    pieces.finish(&pieceItems, &pieceProblems);

    QByteArray wholeData, pieceData;
    for (const auto &item : wholeItems)
        wholeData += item.data;
    for (const auto &item : pieceItems)
        pieceData += item.data;
    check(wholeData == pieceData);
    check(wholeProblems.size() == pieceProblems.size());
    if (mode == DataCodec::Raw)
        check(wholeData == input);
    else
        check(wholeItems.size() == pieceItems.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(bytes), int(size));
    canLine(input);
    hex(input);
    for (const QByteArray &line : input.split('\n')) {
        canLine(line);
        hex(line);
    }
    decoder(DataCodec::Raw, input);
    decoder(DataCodec::Hex, input);
    decoder(DataCodec::Frames, input);
    return 0;
}
