#pragma once

#include <csignal>
#include <cstdint>
#include <poll.h>
#include <string>

struct pcap;
class RecordWriter;

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

    // Writes the savefile header, then every packet, one write per batch, until *stop is set
    // (by a signal, which is blocked except while waiting) or standard input hangs up (the
    // window is gone). After a stop the socket takes no more packets, and every packet it took
    // before is written: the end comes within a fixed time of the stop, however busy the adapter.
    // Returns a status; *reason says why when it is not Ended.
    int run(RecordWriter& out, const volatile std::sig_atomic_t* stop, const sigset_t& waitMask,
            std::string* reason);

    // HelperProtocol::statsLine: what out was given, and the kernel's counts from when the
    // filter applied. Empty when the kernel gives none.
    std::string statsLine(const RecordWriter& out);

private:
    int dispatch(RecordWriter& out);
    void stopTaking();
    void drain(RecordWriter& out, pollfd input);
    bool adapterGone() const;
    void clearSocketError();
    bool kernelCounts(std::uint64_t* received, std::uint64_t* dropped);

    pcap* m_handle = nullptr;
    std::string m_device;
    unsigned m_ifindex = 0;             // 0 for the pseudo-device "any", which cannot go away
    std::uint64_t m_receivedBefore = 0; // unfiltered packets from before the filter applied
    std::uint64_t m_droppedBefore = 0;
};
