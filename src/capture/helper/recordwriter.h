#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

struct pcap_pkthdr;

// The helper's output: a pcap savefile written to a descriptor, a batch at a time. Every write
// is retried until the whole batch is out (interrupted and partial writes included), so nothing
// captured is dropped from a buffer. Once the output fails (its reader has gone), the records
// that did not get out and every later one are counted as lost.
//
// A reader that cannot keep up makes a write wait for room. That wait also watches for a stop
// and for the window's going: after a stop it lasts until a deadline, then the writer gives up,
// and the records that did not get out are counted as given up (the window shows them as
// dropped): the helper's end never waits on a slow reader.
class RecordWriter
{
public:
    using Clock = std::chrono::steady_clock;

    explicit RecordWriter(int fd);

    // While a write waits for room it also watches stopFd (readable: a stop is pending, which
    // starts a deadline stopGrace away) and inputFd (a hang-up: nobody is left to write for).
    void watch(int stopFd, int inputFd, Clock::duration stopGrace);
    // A write still waiting at the deadline gives up; so does every later one.
    void setDeadline(Clock::time_point deadline);

    // Writes the file header at once: its arrival tells the window that capture runs.
    bool writeHeader(int linkType, int snapshotLength);
    // Adds one record; writes the batch first when the record would not fit.
    void append(const pcap_pkthdr& header, const unsigned char* bytes);
    // Writes everything held. False once the output has failed or the writer gave up.
    bool flush();

    bool failed() const { return m_error != 0; }
    bool gaveUp() const { return m_gaveUp; }
    int error() const { return m_error; }
    std::uint64_t lost() const { return m_lost; }
    std::uint64_t givenUp() const { return m_givenUp; }
    std::uint64_t written() const { return m_written; }

private:
    bool writeAll(const char* data, std::size_t size, std::size_t* done);
    bool waitForRoom();
    std::uint64_t countWhole(std::size_t done) const;

    int m_fd;
    int m_stopFd = -1;
    int m_inputFd = -1;
    Clock::duration m_stopGrace{};
    Clock::time_point m_deadline = Clock::time_point::max();
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
    std::uint64_t m_records = 0; // records in the buffer
    std::uint64_t m_written = 0; // records that got out whole
    std::uint64_t m_lost = 0;
    std::uint64_t m_givenUp = 0;
    int m_error = 0;
    bool m_gaveUp = false;
};
