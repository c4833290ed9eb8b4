#pragma once

#include <cstdint>
#include <vector>

struct pcap_pkthdr;

// The helper's output: a pcap savefile written to a descriptor, a batch at a time. Every write
// is retried until the whole batch is out (interrupted and partial writes included), so nothing
// captured is dropped from a buffer. Once the output fails (its reader has gone), the records
// that did not get out and every later one are counted as lost.
class RecordWriter
{
public:
    explicit RecordWriter(int fd);

    // Writes the file header at once: its arrival tells the window that capture runs.
    bool writeHeader(int linkType, int snapshotLength);
    // Adds one record; writes the batch first when the record would not fit.
    void append(const pcap_pkthdr& header, const unsigned char* bytes);
    // Writes everything held. False once the output has failed.
    bool flush();

    bool failed() const { return m_error != 0; }
    int error() const { return m_error; }
    std::uint64_t lost() const { return m_lost; }
    std::uint64_t written() const { return m_written; }

private:
    bool writeAll(const char* data, std::size_t size, std::size_t* done);
    void countLost(std::size_t done);

    int m_fd;
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
    std::uint64_t m_records = 0; // records in the buffer
    std::uint64_t m_written = 0; // records that got out whole
    std::uint64_t m_lost = 0;
    int m_error = 0;
};
