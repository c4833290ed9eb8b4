#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The watched devices send short text messages. The message is found by searching a hex
// rendering of the whole packet for marker digits, so no protocol header is parsed. The rules
// are fixed by the devices and by existing capture logs: keep them exactly.

enum class MessageType { Advertise, ImHere, ImGone, License, Message };

struct MessageClass
{
    QString type; // "Advertise", "I'm here", "I'm gone", "License" or "Message"
    QString data; // the decoded text without its first three characters
};

// Every byte in upper-case hex without a leading zero, no separators: 05 0A 5B FF -> "5A5BFF".
QString HexText(QByteArrayView bytes);

// The decoded message: from three bytes before the first "5B" (or from the first "5555555"),
// two hex digits at a time, byte 218 becoming CR LF, codes 128-255 as Latin-1. Empty when
// neither marker gives a start position.
QString DecodePayload(QStringView hexText);

MessageClass ClassifyMessage(QStringView decodedText);

// Same result as DecodePayload(HexText(bytes)) without building the hex text as a QString:
// this is the one the packet list and the log use for every row.
QString DecodePacket(QByteArrayView bytes);

// What the packet list shows of a packet, decoded in one go: the type of
// DecodePacket(bytes) and its data text (without the first three characters).
struct PacketMessage
{
    MessageType type = MessageType::Message;
    QString data;
};
PacketMessage DecodePacketMessage(QByteArrayView bytes);

MessageType messageType(QStringView decodedText);
QString messageTypeName(MessageType type);
