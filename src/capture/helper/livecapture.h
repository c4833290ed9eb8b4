#pragma once

#include <atomic>
#include <cstdio>
#include <string>

struct pcap;

// One libpcap capture, opened the way the window needs it, written out as a pcap savefile.
class LiveCapture
{
public:
    LiveCapture() = default;
    LiveCapture(const LiveCapture&) = delete;
    LiveCapture& operator=(const LiveCapture&) = delete;
    ~LiveCapture();

    // Opens the adapter (packed ring, large buffer, short block timeout, whole frames) and
    // applies the filter. On failure returns one of HelperProtocol's statuses and sets *reason.
    int open(const std::string& device, const std::string& filter, std::string* reason);

    // Writes the savefile header, then every packet, flushing after each batch, until stop()
    // is called, the output closes or stdinHungUp says the window is gone. Returns a status.
    int run(std::FILE* out, bool (*stdinHungUp)(), std::string* reason);

    // Safe to call from a signal handler.
    void stop();

    // "<received> packets received, <dropped> dropped"
    std::string statsLine();

private:
    pcap* m_handle = nullptr;
    std::string m_device;
    std::atomic<bool> m_stopping{false}; // lock-free, so a signal handler may set it
};
