#include "payloaddecoder.h"

#include <QVarLengthArray>

#include <algorithm>

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";
constexpr int LineBreakCode = 218;
constexpr qsizetype MessageOffset = 6; // the message starts three bytes before the marker

template <typename Char> int hexValue(Char c)
{
    if (c >= '0' && c <= '9')
        return int(c - '0');
    if (c >= 'A' && c <= 'F')
        return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return int(c - 'a' + 10);
    return -1;
}

// Reads one or two characters as a hex number the way the devices' own tools do: leading valid
// digits count and anything else ends the number. Only hex text ever reaches here in practice.
template <typename Char> int readHex(const Char* s, qsizetype n)
{
    int value = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const int digit = hexValue(s[i]);
        if (digit < 0)
            break;
        value = value * 16 + digit;
    }
    return value;
}

// 1-based position of the first "5B", any letter case; 0 when absent.
template <typename Char> qsizetype findStartMarker(const Char* s, qsizetype n)
{
    for (qsizetype i = 0; i + 1 < n; ++i) {
        if (s[i] == '5' && (s[i + 1] == 'B' || s[i + 1] == 'b'))
            return i + 1;
    }
    return 0;
}

// 1-based position of the first "5555555"; 0 when absent.
template <typename Char> qsizetype findFallbackMarker(const Char* s, qsizetype n)
{
    qsizetype run = 0;
    for (qsizetype i = 0; i < n; ++i) {
        run = s[i] == '5' ? run + 1 : 0;
        if (run == 7)
            return i - 6 + 1;
    }
    return 0;
}

template <typename Char> QString decodeHex(const Char* hex, qsizetype n)
{
    qsizetype p = findStartMarker(hex, n) - MessageOffset;
    if (p < 1)
        p = findFallbackMarker(hex, n);
    if (p < 1)
        return {};

    const qsizetype steps = (n - p) / 2 + 1;
    QString out(steps * 2, Qt::Uninitialized); // room for every step being a line break
    QChar* w = out.data();
    for (qsizetype i = p; i <= n; i += 2) {
        const int v = readHex(hex + i - 1, std::min<qsizetype>(2, n - i + 1));
        if (v == LineBreakCode) {
            *w++ = u'\r';
            *w++ = u'\n';
        } else {
            *w++ = QChar(char16_t(v));
        }
    }
    out.truncate(w - out.constData());
    return out;
}

template <typename Char> qsizetype writeHex(QByteArrayView bytes, Char* out)
{
    Char* w = out;
    for (const char b : bytes) {
        const auto v = quint8(b);
        if (v >= 16)
            *w++ = Char(HexDigits[v >> 4]);
        *w++ = Char(HexDigits[v & 15]);
    }
    return w - out;
}

} // namespace

QString HexText(QByteArrayView bytes)
{
    QString out(bytes.size() * 2, Qt::Uninitialized);
    out.truncate(writeHex(bytes, reinterpret_cast<char16_t*>(out.data())));
    return out;
}

QString DecodePayload(QStringView hexText)
{
    return decodeHex(hexText.utf16(), hexText.size());
}

QString DecodePacket(QByteArrayView bytes)
{
    QVarLengthArray<char, 1024> hex(bytes.size() * 2);
    const qsizetype n = writeHex(bytes, hex.data());
    return decodeHex(hex.constData(), n);
}

MessageType messageType(QStringView decodedText)
{
    const QStringView head = decodedText.first(std::min<qsizetype>(3, decodedText.size()));
    if (head == u"***")
        return MessageType::Advertise;
    if (head == u"**-")
        return MessageType::ImHere;
    if (head == u"-**")
        return MessageType::ImGone;
    if (head == u"UUU")
        return MessageType::License;
    return MessageType::Message;
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

MessageClass ClassifyMessage(QStringView decodedText)
{
    QString data = decodedText.size() > 3 ? decodedText.sliced(3).toString() : QString();
    return {messageTypeName(messageType(decodedText)), std::move(data)};
}
