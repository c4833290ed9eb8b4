// A capture file as the window's file reader takes it: any bytes, read as pcap or pcapng with
// the watched port's filter. Whatever the bytes, the reader must answer without crashing or
// reading past them (AddressSanitizer), keep no packet longer than the list holds, keep no
// more packets than it read, say why when it stops early, and read the same packets however
// its reads are sized.

#include "capturefilereader.h"
#include "helperprotocol.h"
#include "packetbatch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

// Reads the whole file through reads of about maxBytes; the batch gets what the filter took.
CaptureFileReader::Result readAll(const std::uint8_t* data, std::size_t size, qsizetype maxBytes,
                                  PacketBatch& batch, qint64* read)
{
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    require(file != nullptr, "fmemopen");
    CaptureFileReader reader;
    if (!reader.open(file, QStringLiteral("fuzz"), QStringLiteral("port 4111"))) {
        require(!reader.error().isEmpty(), "a refused file is said why");
        *read = 0;
        return CaptureFileReader::Result::Failed;
    }
    CaptureFileReader::Result result;
    while ((result = reader.read(batch, maxBytes)) == CaptureFileReader::Result::More) {
    }
    require(result == CaptureFileReader::Result::End || !reader.error().isEmpty(),
            "damage is said");
    *read = reader.packetsRead();
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    PacketBatch whole;
    PacketBatch pieces;
    qint64 readWhole = 0;
    qint64 readPieces = 0;
    const auto result = readAll(data, size, qsizetype(1) << 30, whole, &readWhole);
    require(readAll(data, size, 1, pieces, &readPieces) == result, "same result in pieces");
    require(readWhole == readPieces && whole.count() == pieces.count(), "same packets in pieces");
    require(whole.count() <= readWhole, "no more packets kept than read");
    for (qsizetype i = 0; i < whole.count(); ++i) {
        require(whole.entry(i).length <= quint32(HelperProtocol::SnapshotLength),
                "no packet longer than the list holds");
        require(whole.bytes(i) == pieces.bytes(i), "same bytes in pieces");
    }
    return 0;
}
