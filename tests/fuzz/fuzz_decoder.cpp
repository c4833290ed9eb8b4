// Arbitrary packet bytes through the decoder and the classifier. Any packet on the watched port
// reaches this code, sent by whoever is on the network, so it must hold for every input: no
// crash, no undefined behaviour, and the properties below.

#include "payloaddecoder.h"

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

void checkClassified(const QString& decoded)
{
    const MessageClass classified = ClassifyMessage(decoded);
    require(classified.data == decoded.mid(3), "data text is the decoded text minus three");
    const QStringView head = QStringView(decoded).first(qMin<qsizetype>(3, decoded.size()));
    const char* expected = head == u"***"   ? "Advertise"
                           : head == u"**-" ? "I'm here"
                           : head == u"-**" ? "I'm gone"
                           : head == u"UUU" ? "License"
                                            : "Message";
    require(classified.type == QLatin1String(expected), "type follows the first three characters");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));

    const QString hex = HexText(bytes);
    checkHexText(bytes, hex);

    const QString decoded = DecodePayload(hex);
    checkDecoded(decoded);
    require(DecodePacket(bytes) == decoded, "DecodePacket equals DecodePayload(HexText(bytes))");
    require(DecodePayload(hex.toLower()) == decoded, "the marker search ignores letter case");
    checkClassified(decoded);

    // The detail window decodes the text of a text box; nothing but hex should be there, but the
    // decoder must not depend on that.
    const QString anyText = QString::fromLatin1(bytes);
    const QString fromAnyText = DecodePayload(anyText);
    checkDecoded(fromAnyText);
    checkClassified(fromAnyText);
    return 0;
}
