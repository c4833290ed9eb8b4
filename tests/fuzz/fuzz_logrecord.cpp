// Arbitrary row texts through the capture log's record writer. The data field carries whatever a
// stranger's packet decoded to, and the writer fills a buffer it sized in advance, so an
// estimate that falls short is a heap overflow. Every record is compared with one built the
// plain way from the log's format; a packet's record, made straight from its bytes as Save Log
// makes it, is compared with one built from the texts the list shows.

#include "logrecord.h"
#include "logrows.h"
#include "packetbatch.h"
#include "packetlistmodel.h"
#include "payloaddecoder.h"
#include "referencedecoder.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

// Latin-1 is what the list holds in practice; UTF-16 from raw bytes also brings characters
// above 255, surrogate pairs and lone surrogates.
QString fieldText(const std::string& bytes, bool utf16)
{
    if (!utf16)
        return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    QString text(qsizetype(bytes.size() / 2), Qt::Uninitialized);
    std::memcpy(text.data(), bytes.data(), size_t(text.size()) * sizeof(QChar));
    return text;
}

// The format written out: quoted fields, commas, CR LF at the end, "{New Line}" for each CR LF
// pair of the data field, one byte per character and '?' for a character without one.
QByteArray plainRecord(const QString (&fields)[LogRecord::FieldCount])
{
    QByteArray record;
    for (int i = 0; i < LogRecord::FieldCount; ++i) {
        QString text = fields[i];
        if (i == LogRecord::FieldCount - 1)
            text.replace(QStringLiteral("\r\n"), QStringLiteral("{New Line}"));
        if (i > 0)
            record += ',';
        record += '"';
        for (const char32_t c : text.toUcs4())
            record += c <= 0xFF ? char(c) : '?';
        record += '"';
    }
    return record + "\r\n";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto utf16Fields = input.ConsumeIntegral<std::uint8_t>();
    const bool decodedData = input.ConsumeBool();

    QString fields[LogRecord::FieldCount];
    for (int i = 0; i < LogRecord::FieldCount - 1; ++i)
        fields[i] = fieldText(input.ConsumeRandomLengthString(), utf16Fields & (1u << i));
    const std::string rest = input.ConsumeRemainingBytesAsString();
    // Either the data text of a decoded packet, as the list shows it, or any text at all.
    fields[LogRecord::FieldCount - 1] =
        decodedData ? ReferenceDecoder::programsMessage(QByteArrayView(rest)).data
                    : fieldText(rest, utf16Fields & 0x80);

    // Records are appended to what the log holds already; that must stay as it was.
    const QByteArray before = "\"1\",\"earlier\",\"7\",\"Message\",\"x\"\r\n";
    QByteArray out = before;
    QByteArray bytes[LogRecord::FieldCount];
    LogRecord::Fields record;
    for (int i = 0; i < LogRecord::FieldCount; ++i)
        record[i] = bytes[i] = LogRecord::bytes(fields[i]);
    out.resize(before.size() + LogRecord::room(record));
    out.truncate(LogRecord::write(out.data() + before.size(), record) - out.constData());

    require(out.startsWith(before), "earlier records stay unchanged");
    require(out.sliced(before.size()) == plainRecord(fields), "the record follows the format");

    if (decodedData) {
        PacketBatch batch;
        batch.append(qint64(utf16Fields) * 7919000013, quint32(rest.size()), QByteArrayView(rest));
        PacketListModel model;
        model.OnPackets(batch);
        QString shown[LogRecord::FieldCount];
        for (int column = 0; column < LogRecord::FieldCount; ++column)
            shown[column] = model.text(0, column);
        std::vector<char> scratch(LogRows::ScratchBytes);
        LogRows rows(model.store(), scratch.data());
        rows.load(0);
        QByteArray packetRecord(rows.room(), Qt::Uninitialized);
        packetRecord.truncate(rows.write(packetRecord.data()) - packetRecord.constData());
        require(packetRecord == plainRecord(shown), "a packet's record holds the list's texts");
    }
    return 0;
}
