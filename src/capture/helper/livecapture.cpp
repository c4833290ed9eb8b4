#include "livecapture.h"

#include "helperprotocol.h"

#include <pcap/pcap.h>

namespace {

std::string activateFailure(int status, const std::string& device, const char* libpcapReason,
                            int* exitStatus)
{
    const std::string reason =
        libpcapReason && *libpcapReason ? libpcapReason : pcap_statustostr(status);
    *exitStatus = HelperProtocol::OpenFailed;
    switch (status) {
    case PCAP_ERROR_PERM_DENIED:
        *exitStatus = HelperProtocol::NoPermission;
        return "No permission to capture on " + device + " (" + reason + ").";
    case PCAP_ERROR_NO_SUCH_DEVICE:
        return "The adapter " + device + " does not exist (any more): " + reason;
    case PCAP_ERROR_IFACE_NOT_UP:
        return "The adapter " + device + " is not up: " + reason;
    default:
        return "Cannot open the adapter " + device + ": " + reason;
    }
}

} // namespace

LiveCapture::~LiveCapture()
{
    if (m_handle)
        pcap_close(m_handle);
}

int LiveCapture::open(const std::string& device, const std::string& filter, std::string* reason)
{
    m_device = device;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    m_handle = pcap_create(device.c_str(), errbuf);
    if (!m_handle) {
        *reason = "Cannot open the adapter " + device + ": " + errbuf;
        return HelperProtocol::OpenFailed;
    }
    // Not immediate mode: that gives the ring fixed slots as large as the snapshot, so a burst
    // from loopback overflows it within milliseconds. The packed ring hands over a block when
    // it is full or after the timeout.
    pcap_set_snaplen(m_handle, HelperProtocol::SnapshotLength);
    pcap_set_promisc(m_handle, 1);
    pcap_set_timeout(m_handle, HelperProtocol::BufferTimeoutMs);
    pcap_set_buffer_size(m_handle, HelperProtocol::BufferBytes);
    pcap_set_immediate_mode(m_handle, 0);

    const int status = pcap_activate(m_handle);
    if (status < 0) {
        int exitStatus = 0;
        *reason = activateFailure(status, device, pcap_geterr(m_handle), &exitStatus);
        return exitStatus;
    }
    // Positive statuses are warnings (no promiscuous mode on "any", for one): capture works.

    bpf_program program;
    if (pcap_compile(m_handle, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) < 0) {
        *reason = "The capture filter \"" + filter + "\" cannot be used: " + pcap_geterr(m_handle);
        return HelperProtocol::FilterFailed;
    }
    const int set = pcap_setfilter(m_handle, &program);
    pcap_freecode(&program);
    if (set < 0) {
        *reason = "The capture filter \"" + filter + "\" cannot be used: " + pcap_geterr(m_handle);
        return HelperProtocol::FilterFailed;
    }
    return HelperProtocol::Ended;
}

int LiveCapture::run(std::FILE* out, bool (*stdinHungUp)(), std::string* reason)
{
    pcap_dumper_t* dumper = pcap_dump_fopen(m_handle, out);
    if (!dumper) {
        *reason = std::string("Cannot write the capture: ") + pcap_geterr(m_handle);
        return HelperProtocol::OutputFailed;
    }
    // The header is the sign that capture runs: the window waits for it.
    int status = pcap_dump_flush(dumper) == 0 ? HelperProtocol::Ended : HelperProtocol::OutputFailed;
    while (status == HelperProtocol::Ended && !m_stopping) {
        const int n = pcap_dispatch(m_handle, -1, pcap_dump, reinterpret_cast<u_char*>(dumper));
        if (n > 0 && pcap_dump_flush(dumper) != 0)
            break; // the reader has gone: nothing to report to
        if (n == PCAP_ERROR_BREAK)
            break;
        if (n < 0) {
            *reason = "Capture on " + m_device + " stopped: " + pcap_geterr(m_handle);
            status = HelperProtocol::CaptureEnded;
        }
        if (stdinHungUp())
            break;
    }
    pcap_dump_flush(dumper);
    pcap_dump_close(dumper);
    return status;
}

void LiveCapture::stop()
{
    m_stopping = true;
    if (m_handle)
        pcap_breakloop(m_handle); // also wakes a dispatch that sleeps in poll()
}

std::string LiveCapture::statsLine()
{
    pcap_stat s{};
    if (!m_handle || pcap_stats(m_handle, &s) != 0)
        return {};
    char line[96];
    std::snprintf(line, sizeof line, HelperProtocol::StatsFormat,
                  static_cast<unsigned long long>(s.ps_recv),
                  static_cast<unsigned long long>(s.ps_drop) + s.ps_ifdrop);
    return line;
}
