#pragma once

#include <QByteArrayView>
#include <QString>

// The decoding rules written out plainly, one step after another as they are stated, with no
// regard for speed: the oracle that the program's decoder is compared with. Never used by the
// program itself.
namespace ReferenceDecoder {

struct Message
{
    QString type; // "Advertise", "I'm here", "I'm gone", "License" or "Message"
    QString data; // the decoded text without its first three characters
};

QString hexText(QByteArrayView bytes);
QString decodePayload(const QString& hexText);
Message classify(const QString& decodedText);
Message decodePacket(QByteArrayView bytes); // classify(decodePayload(hexText(bytes)))

// What the program's own decoder makes of a packet for the list and the log, in the same terms,
// decoded in no more room than it asks for.
Message programsMessage(QByteArrayView bytes);

} // namespace ReferenceDecoder
