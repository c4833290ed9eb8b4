#pragma once

#include "packet.h"
#include "packetbatch.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// Packet bytes for tests, made so that the program's own decoding yields a chosen text.

// Bytes whose hex rendering (upper case, no leading zeros) is exactly the given digits: a '0'
// is the byte 0, any other digit starts a two-digit byte.
QByteArray bytesWithHexText(QByteArrayView hexDigits);

// A packet whose decoded text is the given one. The text's fourth character must be '[' (the
// message marker) and every character must have a code below 256.
Packet messagePacket(const QString& decodedText, qint64 timeUs = 1765029909000000);

// Packets as the capture component hands them over: one batch, oldest first.
PacketBatch batchOf(const QList<Packet>& packets);
