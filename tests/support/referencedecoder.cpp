#include "referencedecoder.h"

#include "payloaddecoder.h"

#include <vector>

namespace ReferenceDecoder {

namespace {

int digitValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    return -1;
}

// The leading hex digits of the text as one number; anything else ends it (a text box may hold
// what is not hex).
int leadingHexValue(QStringView text)
{
    int value = 0;
    for (const QChar c : text) {
        if (digitValue(c) < 0)
            break;
        value = value * 16 + digitValue(c);
    }
    return value;
}

} // namespace

QString hexText(QByteArrayView bytes)
{
    QString hex;
    for (const char byte : bytes)
        hex += QString::number(quint8(byte), 16).toUpper();
    return hex;
}

QString decodePayload(const QString& hexText)
{
    // Positions count from 1; 0 stands for "not found".
    qsizetype p = hexText.indexOf(QStringLiteral("5B"), 0, Qt::CaseInsensitive) + 1;
    p -= 6;
    if (p < 1)
        p = hexText.indexOf(QStringLiteral("5555555")) + 1;
    if (p < 1)
        return {};
    QString decoded;
    for (qsizetype i = p; i <= hexText.size(); i += 2) {
        const int v = leadingHexValue(QStringView(hexText).mid(i - 1, 2));
        decoded += v == 218 ? QStringLiteral("\r\n") : QString(QChar(v));
    }
    return decoded;
}

Message classify(const QString& decodedText)
{
    const QString head = decodedText.left(3);
    QString type = QStringLiteral("Message");
    if (head == QStringLiteral("***"))
        type = QStringLiteral("Advertise");
    else if (head == QStringLiteral("**-"))
        type = QStringLiteral("I'm here");
    else if (head == QStringLiteral("-**"))
        type = QStringLiteral("I'm gone");
    else if (head == QStringLiteral("UUU"))
        type = QStringLiteral("License");
    return {type, decodedText.mid(3)};
}

Message decodePacket(QByteArrayView bytes)
{
    return classify(decodePayload(hexText(bytes)));
}

Message programsMessage(QByteArrayView bytes)
{
    std::vector<char> room(size_t(DecodedRoom(bytes.size())));
    MessageType type;
    const QByteArrayView data = DecodePacketMessage(bytes, &type, room.data());
    return {messageTypeName(type), QString::fromLatin1(data)};
}

} // namespace ReferenceDecoder
