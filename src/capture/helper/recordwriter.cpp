#include "recordwriter.h"

#include "helperprotocol.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// Holds the largest record many times over: one write per batch libpcap hands over.
constexpr std::size_t BufferBytes = std::size_t(1) << 20;
constexpr std::size_t RecordHeaderBytes = HelperProtocol::RecordHeaderBytes;
static_assert(sizeof(pcap_file_header) == HelperProtocol::FileHeaderBytes);

void put32(char* at, std::uint32_t value)
{
    std::memcpy(at, &value, sizeof value); // the reader runs on this machine: native order
}

std::uint32_t get32(const char* at)
{
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

} // namespace

RecordWriter::RecordWriter(int fd) : m_fd(fd), m_buffer(BufferBytes) {}

bool RecordWriter::writeHeader(int linkType, int snapshotLength)
{
    pcap_file_header header{};
    header.magic = HelperProtocol::MicrosecondMagic;
    header.version_major = PCAP_VERSION_MAJOR;
    header.version_minor = PCAP_VERSION_MINOR;
    header.snaplen = bpf_u_int32(snapshotLength);
    header.linktype = bpf_u_int32(linkType);
    std::size_t done = 0;
    return writeAll(reinterpret_cast<const char*>(&header), sizeof header, &done);
}

void RecordWriter::append(const pcap_pkthdr& header, const unsigned char* bytes)
{
    if (failed()) {
        ++m_lost;
        return;
    }
    const std::size_t size = RecordHeaderBytes + header.caplen;
    if (m_used + size > m_buffer.size() && !flush()) {
        ++m_lost;
        return;
    }
    char* at = m_buffer.data() + m_used;
    put32(at, std::uint32_t(header.ts.tv_sec));
    put32(at + 4, std::uint32_t(header.ts.tv_usec));
    put32(at + 8, header.caplen);
    put32(at + 12, header.len);
    std::memcpy(at + RecordHeaderBytes, bytes, header.caplen);
    m_used += size;
    ++m_records;
}

bool RecordWriter::flush()
{
    if (failed())
        return false;
    std::size_t done = 0;
    const bool ok = writeAll(m_buffer.data(), m_used, &done);
    if (ok)
        m_written += m_records;
    else
        countLost(done);
    m_used = 0;
    m_records = 0;
    return ok;
}

bool RecordWriter::writeAll(const char* data, std::size_t size, std::size_t* done)
{
    while (*done < size) {
        const ssize_t n = ::write(m_fd, data + *done, size - *done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = n < 0 ? errno : EIO;
            return false;
        }
        *done += std::size_t(n);
    }
    return true;
}

// The records wholly written before the failure reached the reader; the rest did not.
void RecordWriter::countLost(std::size_t done)
{
    std::size_t at = 0;
    std::uint64_t whole = 0;
    while (at + RecordHeaderBytes <= done) {
        const std::size_t end = at + RecordHeaderBytes + get32(m_buffer.data() + at + 8);
        if (end > done)
            break;
        at = end;
        ++whole;
    }
    m_written += whole;
    m_lost += m_records - whole;
}
