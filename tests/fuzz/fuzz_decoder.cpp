// Arbitrary packet bytes through the decoder functions the program calls: DecodePacketMessage
// (the list, and the log through it), HexText and DecodePayload (the detail window). Any packet
// on the watched port reaches this code, sent by whoever is on the network, so it must hold for
// every input: no crash, no undefined behaviour, the properties below, and the same results as
// the tests' plain reference decoder.

#include "payloaddecoder.h"
#include "referencedecoder.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// A broken property is a finding like a crash: abort so libFuzzer keeps the input.
void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

void checkHexText(QByteArrayView bytes, const QString& hex)
{
    qsizetype digits = 0;
    for (const char b : bytes)
        digits += quint8(b) < 16 ? 1 : 2;
    require(hex.size() == digits, "one hex digit per byte below 16, two for the others");
    for (const QChar c : hex)
        require((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'), "upper-case hex digits");
}

// Holds for any text handed to DecodePayload, hex or not.
void checkDecoded(const QString& decoded)
{
    require(decoded.isEmpty() || decoded.size() >= 4,
            "a found start position leaves at least four characters");
    for (const QChar c : decoded) {
        require(c.unicode() != 218, "code 218 always becomes CR LF");
        require(c.unicode() < 256, "every step yields one byte's character");
    }
}

void checkListDecode(QByteArrayView bytes)
{
    const ReferenceDecoder::Message message = ReferenceDecoder::programsMessage(bytes);
    const ReferenceDecoder::Message reference = ReferenceDecoder::decodePacket(bytes);
    require(message.type == reference.type, "the list's type is the reference's");
    require(message.data == reference.data, "the list's data text is the reference's");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));

    const QString hex = HexText(bytes);
    checkHexText(bytes, hex);
    require(hex == ReferenceDecoder::hexText(bytes), "HexText is the reference's");

    const QString decoded = DecodePayload(hex);
    checkDecoded(decoded);
    require(decoded == ReferenceDecoder::decodePayload(hex), "DecodePayload is the reference's");
    require(DecodePayload(hex.toLower()) == decoded, "the marker search ignores letter case");
    checkListDecode(bytes);

    // The detail window decodes the text of a text box; nothing but hex should be there, but the
    // decoder must not depend on that.
    const QString anyText = QString::fromLatin1(bytes);
    const QString fromAnyText = DecodePayload(anyText);
    checkDecoded(fromAnyText);
    require(fromAnyText == ReferenceDecoder::decodePayload(anyText),
            "DecodePayload of any text is the reference's");
    return 0;
}
