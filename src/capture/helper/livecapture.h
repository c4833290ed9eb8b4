#pragma once

#include <chrono>
#include <cstdint>
#include <poll.h>
#include <string>

struct pcap;
class RecordWriter;
class StopSignals;

// One libpcap capture, opened the way the window needs it, written out as a pcap savefile.
class LiveCapture
{
public:
    LiveCapture() = default;
    LiveCapture(const LiveCapture&) = delete;
    LiveCapture& operator=(const LiveCapture&) = delete;
    ~LiveCapture();

    // Opens the adapter (packed ring, large buffer, short block timeout, whole frames) with
    // cap_net_raw raised for just that, then gives up every capability. On failure returns one
    // of HelperProtocol's statuses and sets *reason.
    int open(const std::string& device, std::string* reason);
    // Compiles and attaches the filter: an open socket takes one without any privilege.
    int applyFilter(const std::string& filter, std::string* reason);

    // Writes the savefile header, then every packet, one write per batch, until a stop comes
    // or standard input hangs up (the window is gone), with the counts on standard error once a
    // second. After a stop the socket takes no more packets, and what it took before is
    // written until a fixed time after the stop, however busy the adapter and however slow
    // this process or its reader; what is left then is counted as dropped. Returns a status;
    // *reason says why when it is not Ended.
    int run(RecordWriter& out, StopSignals& stop, std::string* reason);

    // HelperProtocol::statsLine: what out was given, and the kernel's counts from when the
    // filter applied. Once capture has ended (final), every packet the kernel took for us that
    // did not get out counts as dropped. Empty when the kernel gives none.
    std::string statsLine(const RecordWriter& out, bool final);

    // How long after a stop the helper goes on writing what it holds.
    static constexpr auto StopDrain = std::chrono::milliseconds(400);

private:
    struct KernelCounts
    {
        std::uint64_t received = 0; // each once: on loopback the outgoing copy is not taken
        std::uint64_t dropped = 0;  // the ring was full
        std::uint64_t adapterDropped = 0;
    };

    int dispatch(RecordWriter& out);
    void ignoreOutgoingOnLoopback();
    void stopTaking();
    void drain(RecordWriter& out, pollfd input, std::chrono::steady_clock::time_point stopped);
    bool adapterGone() const;
    void clearSocketError();
    bool kernelCounts(KernelCounts* counts);
    void writeStats(const RecordWriter& out);

    pcap* m_handle = nullptr;
    std::string m_device;
    unsigned m_ifindex = 0;    // 0 for the pseudo-device "any", which cannot go away
    bool m_countsOnce = false; // the kernel's received count holds each packet once
    KernelCounts m_before;     // from before the filter applied
};
