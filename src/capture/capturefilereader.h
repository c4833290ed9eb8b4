#pragma once

#include <QString>

#include <atomic>
#include <cstdio>

class PacketBatch;
struct pcap;
struct bpf_program;
struct pcap_pkthdr;

// Reads a capture file, pcap or pcapng as tcpdump, dumpcap and this program write them (either
// byte order, microsecond or nanosecond times, any link type libpcap knows), and keeps the
// packets that the filter takes, exactly as a live capture with that filter would. Parsing is
// libpcap's offline reader; it runs in the window's process, which holds no capability.
//
// One thread opens and reads; another may follow it through packetsRead() and bytesRead().
class CaptureFileReader
{
public:
    enum class Result { More, End, Failed };

    CaptureFileReader();
    ~CaptureFileReader();
    CaptureFileReader(const CaptureFileReader&) = delete;
    CaptureFileReader& operator=(const CaptureFileReader&) = delete;

    // False, with error(), when the file cannot be opened, is no capture file, or holds a link
    // type the filter cannot be applied to. name is the file's name in messages.
    bool open(const QString& fileName, const QString& filter);
    // The same for a stream already open, which the reader takes over.
    bool open(std::FILE* file, const QString& name, const QString& filter);

    // Appends the packets the filter takes to batch until it holds about maxBytes or the file
    // ends. Failed, with error(), when the file is damaged: the packets before the damage are
    // in the batch.
    Result read(PacketBatch& batch, qsizetype maxBytes);

    // The link type of the file's packets, as libpcap numbers it.
    int linkType() const { return m_linkType; }
    // Every record read so far, the filter's or not.
    qint64 packetsRead() const { return m_packets.load(std::memory_order_relaxed); }
    qint64 bytesRead() const { return m_bytes.load(std::memory_order_relaxed); }
    // The file's size; 0 when it is not a regular file.
    qint64 fileBytes() const { return m_fileBytes.load(std::memory_order_relaxed); }
    QString error() const { return m_error; }

private:
    bool fail(const QString& reason);
    bool compile(const QString& filter);
    QString damage(const pcap_pkthdr& header);
    bool overlong(const pcap_pkthdr& header);

    pcap* m_handle = nullptr;
    bpf_program* m_program = nullptr;
    QString m_name;
    QString m_error;
    int m_linkType = 0;
    long m_position = -1; // in a pcap file that can tell its position, after the last record
    std::atomic<qint64> m_fileBytes{0};
    std::atomic<qint64> m_packets{0};
    std::atomic<qint64> m_bytes{0};
};
