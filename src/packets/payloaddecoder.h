#pragma once

#include "helperprotocol.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The watched devices send short text messages. The message is found by searching a hex
// rendering of the whole packet for marker digits, so no protocol header is parsed. The rules
// are fixed by the devices and by existing capture logs: keep them exactly.
//
// The message type follows from the decoded text's first three characters: "***" Advertise,
// "**-" I'm here, "-**" I'm gone, "UUU" License (exact case), anything else Message.

enum class MessageType { Advertise, ImHere, ImGone, License, Message };

// The detail window: every byte in upper-case hex without a leading zero, no separators
// (05 0A 5B FF -> "5A5BFF") ...
QString HexText(QByteArrayView bytes);

// ... and the decoded message: from three bytes before the first "5B" (or from the first
// "5555555"), two hex digits at a time, byte 218 becoming CR LF, codes 128-255 as Latin-1.
// Empty when neither marker gives a start position.
QString DecodePayload(QStringView hexText);

// The packet list and the capture log: the message type and the data text (the decoded text
// without its first three characters), decoded straight from the bytes with the same result as
// DecodePayload(HexText(bytes)). The text is one byte per character (every decoded character
// is below 256), made in buffer, which needs room for DecodedRoom(bytes.size()) bytes; nothing
// is allocated.
QByteArrayView DecodePacketMessage(QByteArrayView bytes, MessageType* type, char* buffer);
constexpr qsizetype DecodedRoom(qsizetype packetBytes)
{
    return 2 * packetBytes + 2; // a line break is two characters; an odd digit count adds one
}
// Room for any packet the list holds: none is longer than the capture's snapshot length.
constexpr qsizetype DecodedRoomForAnyPacket = DecodedRoom(HelperProtocol::SnapshotLength);

// "Advertise", "I'm here", "I'm gone", "License" or "Message", as the list and the log show it.
QString messageTypeName(MessageType type);
