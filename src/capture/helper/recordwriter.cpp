#include "recordwriter.h"

#include "helperprotocol.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
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

RecordWriter::RecordWriter(int fd) : m_fd(fd), m_buffer(BufferBytes)
{
    // A full pipe makes a write wait in waitForRoom, where a stop is still seen.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void RecordWriter::watch(int stopFd, int inputFd, Clock::duration stopGrace)
{
    m_stopFd = stopFd;
    m_inputFd = inputFd;
    m_stopGrace = stopGrace;
}

void RecordWriter::setDeadline(Clock::time_point deadline)
{
    m_deadline = std::min(m_deadline, deadline);
    m_stopFd = -1; // the stop is known
}

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
    const std::size_t size = RecordHeaderBytes + header.caplen;
    if (failed() || m_gaveUp || (m_used + size > m_buffer.size() && !flush())) {
        ++(failed() ? m_lost : m_givenUp);
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
    if (failed() || m_gaveUp)
        return false;
    std::size_t done = 0;
    const bool ok = writeAll(m_buffer.data(), m_used, &done);
    // The records wholly written reached the reader; the rest did not.
    const std::uint64_t whole = ok ? m_records : countWhole(done);
    m_written += whole;
    (m_gaveUp ? m_givenUp : m_lost) += m_records - whole;
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
        if (n < 0 && errno == EAGAIN) {
            if (!waitForRoom())
                return false;
            continue;
        }
        if (n <= 0) {
            m_error = n < 0 ? errno : EIO;
            return false;
        }
        *done += std::size_t(n);
    }
    return true;
}

// Waits until the output takes more; false when the writer gives up meanwhile.
bool RecordWriter::waitForRoom()
{
    for (;;) {
        pollfd waits[3] = {{m_fd, POLLOUT, 0}, {m_stopFd, POLLIN, 0}, {m_inputFd, 0, 0}};
        int timeout = -1;
        if (m_deadline != Clock::time_point::max()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(m_deadline - Clock::now());
            timeout = int(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        const int ready = ::poll(waits, 3, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (waits[2].revents & POLLNVAL)
            m_inputFd = -1; // started without a standard input: nothing to watch there
        if (ready == 0 || (waits[2].revents & (POLLHUP | POLLERR))) {
            m_gaveUp = true; // out of time, or nobody left to write for
            return false;
        }
        if (waits[1].revents)
            setDeadline(Clock::now() + m_stopGrace);
        if (waits[0].revents || ready < 0)
            return true; // room, or an error the next write reports
    }
}

std::uint64_t RecordWriter::countWhole(std::size_t done) const
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
    return whole;
}
