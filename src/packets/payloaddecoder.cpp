#include "payloaddecoder.h"

#include <array>
#include <cstring>

// Every packet of the list and of the log passes through DecodePacketMessage, so the work is
// done on the caller's buffer: a packet's hex digits are written there as their values (0-15)
// rather than as characters, and the decoded text then replaces them in place.

namespace {

constexpr char16_t HexDigits[] = u"0123456789ABCDEF";
constexpr int LineBreakCode = 218;
constexpr qsizetype MessageOffset = 6; // the message starts three bytes before the marker
constexpr qsizetype FallbackRun = 7;   // "5555555"

constexpr std::array<qint8, 256> HexValues = [] {
    std::array<qint8, 256> values{};
    for (int c = 0; c < 256; ++c)
        values[size_t(c)] = c >= '0' && c <= '9'   ? qint8(c - '0')
                            : c >= 'A' && c <= 'F' ? qint8(c - 'A' + 10)
                            : c >= 'a' && c <= 'f' ? qint8(c - 'a' + 10)
                                                   : qint8(-1);
    return values;
}();

int hexValue(char16_t c)
{
    return c < 256 ? HexValues[c] : -1;
}

// Hex text given as characters (the detail window's text box). One or two characters are read
// the way the devices' own tools read them: leading valid digits count and anything else ends
// the number. Only hex text ever reaches here in practice.
struct TextDigits
{
    const char16_t* s;
    qsizetype n;

    qsizetype findStartMarker() const // 0-based; -1 when absent; any letter case
    {
        // Four characters at a time: a word holds a '5' when one of its 16-bit lanes is zero
        // after an xor with "5555". Only the lanes found that way are looked at one by one.
        constexpr quint64 Fives = 0x0035003500350035;
        constexpr quint64 Ones = 0x0001000100010001;
        constexpr quint64 Highs = 0x8000800080008000;
        qsizetype i = 0;
        for (; i + 4 < n; i += 4) {
            quint64 word;
            std::memcpy(&word, s + i, sizeof word);
            word ^= Fives;
            if (((word - Ones) & ~word & Highs) == 0)
                continue;
            for (qsizetype k = i; k < i + 4; ++k) {
                if (isStart(k))
                    return k;
            }
        }
        for (; i + 1 < n; ++i) {
            if (isStart(i))
                return i;
        }
        return -1;
    }
    bool isStart(qsizetype i) const { return s[i] == u'5' && (s[i + 1] | 0x20) == u'b'; }
    bool isFive(qsizetype i) const { return s[i] == u'5'; }
    int pair(qsizetype i) const
    {
        const char16_t a = s[i];
        const char16_t b = s[i + 1];
        if ((a | b) < 256) { // two hex digits, as nearly always
            const int high = HexValues[a];
            const int low = HexValues[b];
            if ((high | low) >= 0)
                return high << 4 | low;
        }
        const int high = hexValue(a);
        if (high < 0)
            return 0;
        const int low = hexValue(b);
        return low < 0 ? high : high * 16 + low;
    }
    int single(qsizetype i) const { return std::max(hexValue(s[i]), 0); }
};

// Hex digits as values, made from a packet's bytes.
struct ValueDigits
{
    const quint8* s;
    qsizetype n;

    qsizetype findStartMarker() const
    {
        for (const quint8* q = s; n - (q - s) > 1; ++q) {
            q = static_cast<const quint8*>(std::memchr(q, 5, size_t(n - (q - s) - 1)));
            if (!q)
                return -1;
            if (q[1] == 11)
                return q - s;
        }
        return -1;
    }
    bool isFive(qsizetype i) const { return s[i] == 5; }
    int pair(qsizetype i) const { return s[i] << 4 | s[i + 1]; }
    int single(qsizetype i) const { return s[i]; }
};

template <typename Digits> qsizetype findFallbackMarker(const Digits& d)
{
    qsizetype run = 0;
    for (qsizetype i = 0; i < d.n; ++i) {
        run = d.isFive(i) ? run + 1 : 0;
        if (run == FallbackRun)
            return i - (FallbackRun - 1);
    }
    return -1;
}

// 0-based index of the first digit of the message; -1 when neither marker gives one.
template <typename Digits> qsizetype messageStart(const Digits& d)
{
    // In 1-based positions: p = position of "5B" - 6, or that of "5555555" when p < 1.
    const qsizetype marker = d.findStartMarker();
    if (marker >= MessageOffset)
        return marker - MessageOffset;
    return findFallbackMarker(d);
}

// Room for the decoded text from start on: every step may be a line break (two characters).
qsizetype decodedRoom(qsizetype start, qsizetype n)
{
    return start < 0 ? 0 : ((n - start + 1) / 2) * 2;
}

// Every decoded value is below 256, so the text fits characters of either width.
template <typename Digits, typename Char>
Char* decodeInto(const Digits& d, qsizetype start, Char* w)
{
    auto put = [&w](int v) {
        if (v == LineBreakCode) {
            *w++ = Char('\r');
            *w++ = Char('\n');
        } else {
            *w++ = Char(v);
        }
    };
    qsizetype i = start;
    for (; i + 1 < d.n; i += 2)
        put(d.pair(i));
    if (i < d.n)
        put(d.single(i)); // an odd count of digits ends with one
    return w;
}

template <typename Digits> QString decode(const Digits& d)
{
    const qsizetype start = messageStart(d);
    if (start < 0)
        return {};
    QString out(decodedRoom(start, d.n), Qt::Uninitialized);
    char16_t* begin = reinterpret_cast<char16_t*>(out.data());
    out.truncate(decodeInto(d, start, begin) - begin);
    return out;
}

// The digits of every byte value, two places each, and how many of them count: a byte below
// 16 has one digit, no leading zero.
template <typename Digit> struct DigitTable
{
    Digit places[256][2];
    quint8 count[256];
};

template <typename Digit, typename Make> constexpr DigitTable<Digit> makeTable(Make make)
{
    DigitTable<Digit> table{};
    for (unsigned v = 0; v < 256; ++v) {
        const unsigned high = v >> 4;
        const unsigned low = v & 15;
        table.places[v][0] = make(high ? high : low);
        table.places[v][1] = make(low);
        table.count[v] = quint8(high ? 2 : 1);
    }
    return table;
}

constexpr auto CharTable = makeTable<char16_t>([](unsigned d) { return HexDigits[d]; });
constexpr auto ValueTable = makeTable<quint8>([](unsigned d) { return quint8(d); });

// Both places are written for every byte and the write position moves on by the count, so
// there is no branch per byte to mispredict. out needs room for two digits per byte.
template <typename Digit>
qsizetype writeDigits(QByteArrayView bytes, Digit* out, const DigitTable<Digit>& table)
{
    Digit* w = out;
    // Unrolled, the loop's own counting stops being a quarter of its instructions.
#pragma GCC unroll 8
    for (const char b : bytes) {
        const auto v = quint8(b);
        std::memcpy(w, table.places[v], sizeof table.places[v]);
        w += table.count[v];
    }
    return w - out;
}

template <typename Char> MessageType messageType(const Char* decodedText, qsizetype length)
{
    if (length < 3)
        return MessageType::Message;
    const char16_t a = char16_t(decodedText[0]);
    const char16_t b = char16_t(decodedText[1]);
    const char16_t c = char16_t(decodedText[2]);
    if (a == u'*' && b == u'*' && c == u'*')
        return MessageType::Advertise;
    if (a == u'*' && b == u'*' && c == u'-')
        return MessageType::ImHere;
    if (a == u'-' && b == u'*' && c == u'*')
        return MessageType::ImGone;
    if (a == u'U' && b == u'U' && c == u'U')
        return MessageType::License;
    return MessageType::Message;
}

} // namespace

QString HexText(QByteArrayView bytes)
{
    QString out(bytes.size() * 2, Qt::Uninitialized);
    out.truncate(writeDigits(bytes, reinterpret_cast<char16_t*>(out.data()), CharTable));
    return out;
}

QString DecodePayload(QStringView hexText)
{
    return decode(TextDigits{hexText.utf16(), hexText.size()});
}

QByteArrayView DecodePacketMessage(QByteArrayView bytes, MessageType* type, char* buffer)
{
    // Each step of the decoding reads two digits and writes at most two characters, so the
    // text never overtakes the digits it is made from: both share the buffer.
    auto* digits = reinterpret_cast<quint8*>(buffer);
    const ValueDigits values{digits, writeDigits(bytes, digits, ValueTable)};
    const qsizetype start = messageStart(values);
    const qsizetype length = start < 0 ? 0 : decodeInto(values, start, buffer) - buffer;
    *type = messageType(buffer, length);
    return length > 3 ? QByteArrayView(buffer + 3, length - 3) : QByteArrayView();
}

QString messageTypeName(MessageType type)
{
    switch (type) {
    case MessageType::Advertise:
        return QStringLiteral("Advertise");
    case MessageType::ImHere:
        return QStringLiteral("I'm here");
    case MessageType::ImGone:
        return QStringLiteral("I'm gone");
    case MessageType::License:
        return QStringLiteral("License");
    case MessageType::Message:
        break;
    }
    return QStringLiteral("Message");
}
