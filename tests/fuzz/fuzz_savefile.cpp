// The capture helper's stream as the window's reader takes it: a savefile header, then records
// cut wherever a read happened to end. The first input byte chooses the size of the pieces
// (1 to 256 bytes), the rest is the stream. Cut any way, the stream must give the same packets
// as when read whole, a broken one (a record longer than the snapshot, a header the reader
// refuses) must be refused in every cutting at the same record, and what is left over is the
// record the stream ended in. AddressSanitizer catches any read past the bytes given.

#include "helperprotocol.h"
#include "packetbatch.h"
#include "savefilereader.h"

#include <QByteArrayView>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 + std::size_t(HelperProtocol::FileHeaderBytes))
        return 0;
    const std::size_t piece = std::size_t(data[0]) + 1;
    const char* stream = reinterpret_cast<const char*>(data + 1);
    const qsizetype length = qsizetype(size - 1);

    SavefileReader reader;
    if (!reader.readHeader(QByteArrayView(stream, HelperProtocol::FileHeaderBytes)))
        return 0;
    const QByteArrayView records(stream + HelperProtocol::FileHeaderBytes,
                                 length - HelperProtocol::FileHeaderBytes);

    PacketBatch whole;
    const qsizetype usedWhole = reader.readRecords(records, whole);
    require(usedWhole <= records.size(), "whole: more used than given");

    // As CaptureSession's thread does it: what a read brought is appended to what is held,
    // the complete records are taken and the rest moves to the front.
    PacketBatch pieces;
    std::vector<char> held;
    bool broken = false;
    for (qsizetype at = 0; at < records.size() && !broken;) {
        const qsizetype n = qMin(qsizetype(piece), records.size() - at);
        held.insert(held.end(), records.data() + at, records.data() + at + n);
        at += n;
        // Exactly what is held, in a buffer of its own, so that a read beyond it is caught.
        std::vector<char> exact(held);
        const qsizetype used =
            reader.readRecords(QByteArrayView(exact.data(), qsizetype(exact.size())), pieces);
        if (used < 0) {
            broken = true;
            break;
        }
        require(used <= qsizetype(held.size()), "pieces: more used than held");
        held.erase(held.begin(), held.begin() + used);
    }

    require(broken == (usedWhole < 0), "broken in pieces, not whole, or the other way round");
    require(pieces.count() == whole.count(), "another number of packets in pieces");
    for (qsizetype i = 0; i < whole.count(); ++i) {
        require(pieces.bytes(i) == whole.bytes(i), "other bytes in pieces");
        require(pieces.entry(i).timeUs == whole.entry(i).timeUs, "another time in pieces");
        require(pieces.entry(i).size == whole.entry(i).size, "another size in pieces");
    }
    if (!broken)
        require(qsizetype(held.size()) == records.size() - usedWhole, "another rest in pieces");
    return 0;
}
