#include "packetstore.h"

#include "helperprotocol.h"
#include "packetbatch.h"

#include <algorithm>

#include <sys/mman.h>

namespace {

// Held from the start and released when the store gives up, so that the message, the list and
// the log writer still find memory.
constexpr size_t ReserveBytes = size_t(32) << 20;

// Pages are left untouched, so they become resident only as they are written.
void* mapMemory(size_t bytes)
{
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void unmapMemory(void* p, size_t bytes)
{
    if (p)
        ::munmap(p, bytes);
}

} // namespace

PacketStore::PacketStore() : PacketStore(StoreFile::defaultFolders()) {}

PacketStore::PacketStore(const QStringList& folders, qsizetype maxEntries)
    : m_file(folders), m_maxEntries(std::min(maxEntries, MaxEntries)),
      m_chunks(static_cast<Chunk*>(mapMemory(size_t(MaxChunks) * sizeof(Chunk)))),
      m_spans(
          static_cast<StoreFile::Region*>(mapMemory(size_t(MaxSpans) * sizeof(StoreFile::Region)))),
      m_pending(std::make_unique_for_overwrite<Entry[]>(size_t(PendingEntries))),
      m_reserve(mapMemory(ReserveBytes))
{}

PacketStore::~PacketStore()
{
    clear();
    unmapMemory(m_reserve, ReserveBytes);
    unmapMemory(m_spans, size_t(MaxSpans) * sizeof(StoreFile::Region));
    unmapMemory(m_chunks, size_t(MaxChunks) * sizeof(Chunk));
}

bool PacketStore::makeRoom(qsizetype length)
{
    if (m_chunkCount > 0 && m_chunks[m_chunkCount - 1].region.size - m_chunkUsed >= length)
        return true;
    if (!m_chunks)
        return false;
    if (m_chunkCount == MaxChunks) {
        m_shortage = StoreShortage::Rows;
        return false;
    }
    const qsizetype least =
        (length + StoreFile::PageBytes - 1) / StoreFile::PageBytes * StoreFile::PageBytes;
    // A quarter of what the chunks hold already: few mappings however long the list (about 200
    // for the most rows it admits), and at most a quarter more disk reserved than used.
    const StoreFile::Region region = m_file.grow(
        std::max(std::clamp(m_chunkTotal / GrowthDivisor, ChunkBytes, MaxChunkBytes), least),
        least);
    if (!region.data)
        return false;
    // Its count of bytes written is 0 already: readers may look at it through a damaged entry.
    m_chunks[m_chunkCount++].region = region;
    m_chunkUsed = 0;
    m_chunkTotal += region.size;
    return true;
}

// A block of spans for the entries that follow, a quarter as many as there are already.
bool PacketStore::openBlock()
{
    const qsizetype most =
        std::min(std::clamp(m_spanCount / GrowthDivisor * SpanBytes, SpanBytes, MaxBlockBytes),
                 (MaxSpans - m_spanCount) * SpanBytes);
    const StoreFile::Region block =
        m_spans ? m_file.grow(most, SpanBytes, SpanBytes) : StoreFile::Region{};
    for (qsizetype at = 0; at < block.size; at += SpanBytes)
        m_spans[m_spanCount++] = {block.data + at, block.offset + at, at ? 0 : block.size};
    return block.data;
}

// Writes the waiting entries to their blocks, opening blocks as needed; counts those written.
bool PacketStore::flushEntries(qsizetype* stored)
{
    qsizetype done = 0;
    while (done < m_pendingCount) {
        const qsizetype index = *stored + done;
        const qsizetype span = index >> SpanShift;
        if (span == m_spanCount && !openBlock())
            break;
        const qsizetype at = index & (SpanEntries - 1);
        const qsizetype n = std::min(m_pendingCount - done, SpanEntries - at);
        if (!m_file.write(m_spans[span], at * qsizetype(sizeof(Entry)), &m_pending[size_t(done)],
                          n * qsizetype(sizeof(Entry))))
            break;
        done += n;
    }
    const bool all = done == m_pendingCount;
    *stored += done;
    m_pendingCount = 0;
    return all;
}

// Stores the packets [from, end) of the batch, which fit the current chunk.
bool PacketStore::storeRun(const PacketBatch& batch, qsizetype from, qsizetype end,
                           qsizetype* stored)
{
    const qsizetype first = batch.entry(from).offset;
    const qsizetype bytes = batch.entry(end - 1).offset + batch.entry(end - 1).length - first;
    const quint64 base = (quint64(m_chunkCount - 1) << 32) | quint64(m_chunkUsed);
    if (bytes > 0) {
        if (!m_file.write(m_chunks[m_chunkCount - 1].region, m_chunkUsed, batch.bytes(from).data(),
                          bytes))
            return false;
        m_chunkUsed += bytes;
        std::atomic_ref(m_chunks[m_chunkCount - 1].written)
            .store(m_chunkUsed, std::memory_order_relaxed);
    }
    for (qsizetype i = from; i < end; ++i) {
        const PacketBatch::Entry& packet = batch.entry(i);
        m_pending[size_t(m_pendingCount++)] =
            Entry{packet.length ? base + quint64(packet.offset - first) : 0, packet.timeUs,
                  packet.size, packet.length};
        if (m_pendingCount == PendingEntries && !flushEntries(stored))
            return false;
    }
    return true;
}

qsizetype PacketStore::append(const PacketBatch& batch)
{
    // Once full the store takes nothing more: what the reserve freed is for the program, not
    // for more packets.
    if (isFull())
        return 0;
    const qsizetype before = m_count.load(std::memory_order_relaxed);
    qsizetype stored = before;
    // A batch keeps its packets' bytes one after the other, as the store does, so every run of
    // packets that fits the current chunk is written at once. Chunks are opened exactly where
    // appending the packets one by one would open them.
    const qsizetype n = batch.count();
    qsizetype i = 0;
    bool refused = false;
    while (i < n && !refused) {
        const qsizetype rowsLeft = m_maxEntries - stored - m_pendingCount;
        if (rowsLeft == 0) {
            m_shortage = StoreShortage::Rows;
            refused = true;
        } else if (batch.entry(i).length > 0 && !makeRoom(batch.entry(i).length)) {
            refused = true;
        } else {
            const qsizetype from = batch.entry(i).offset;
            const qsizetype room =
                m_chunkCount ? m_chunks[m_chunkCount - 1].region.size - m_chunkUsed : 0;
            const qsizetype limit = std::min(n, i + rowsLeft);
            qsizetype end = i + 1;
            while (end < limit && batch.entry(end).offset + batch.entry(end).length - from <= room)
                ++end;
            refused = !storeRun(batch, i, end, &stored);
            i = end;
        }
    }
    refused = !flushEntries(&stored) || refused;
    // Readers on other threads see the new entries complete, or not at all.
    m_count.store(stored, std::memory_order_release);
    if (refused)
        giveUp();
    return stored - before;
}

void PacketStore::giveUp()
{
    if (m_shortage == StoreShortage::None)
        m_shortage = m_file.shortage() == StoreShortage::None ? StoreShortage::AddressSpace
                                                              : m_file.shortage();
    unmapMemory(m_reserve, ReserveBytes);
    m_reserve = nullptr;
}

void PacketStore::clear()
{
    for (qsizetype c = 0; c < m_chunkCount; ++c) {
        m_file.release(m_chunks[c].region);
        m_chunks[c].written = 0;
    }
    for (qsizetype s = 0; s < m_spanCount; ++s)
        m_file.release(m_spans[s]);
    m_file.reset();
    m_chunkCount = m_chunkUsed = m_chunkTotal = m_spanCount = m_pendingCount = 0;
    m_count.store(0, std::memory_order_release);
    m_shortage = StoreShortage::None;
    if (!m_reserve)
        m_reserve = mapMemory(ReserveBytes);
}

bool PacketStore::damaged(qsizetype i) const
{
    const Entry& e = entry(i);
    if (e.length == 0)
        return false;
    const quint64 chunk = e.location >> 32;
    const quint64 end = (e.location & 0xffffffffu) + e.length;
    // Slots past the last chunk say nothing is written in them.
    return e.length > quint32(HelperProtocol::SnapshotLength) || chunk >= quint64(MaxChunks) ||
           end > quint64(std::atomic_ref(m_chunks[chunk].written).load(std::memory_order_relaxed));
}

QByteArrayView PacketStore::bytes(qsizetype i) const
{
    const Entry& e = entry(i);
    if (e.length == 0 || damaged(i))
        return {};
    const char* chunk = m_chunks[e.location >> 32].region.data;
    return QByteArrayView(chunk + (e.location & 0xffffffffu), e.length);
}

Packet PacketStore::packet(qsizetype i) const
{
    const QByteArrayView data = bytes(i);
    return Packet{timeUs(i), size(i), QByteArray(data.data(), data.size())};
}
