#include "livecapture.h"

#include "helperprotocol.h"
#include "privileges.h"
#include "recordwriter.h"
#include "stopsignals.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

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
        *exitStatus = HelperProtocol::NoSuchAdapter;
        return "There is no adapter named \"" + device + "\" (" + reason + ").";
    case PCAP_ERROR_IFACE_NOT_UP:
        return "The adapter " + device + " is not up: " + reason;
    default:
        return "Cannot open the adapter " + device + ": " + reason;
    }
}

void onPacket(unsigned char* user, const pcap_pkthdr* header, const unsigned char* bytes)
{
    reinterpret_cast<RecordWriter*>(user)->append(*header, bytes);
}

// Once the socket takes nothing more, the kernel hands over its last, partly filled block of the
// ring within two of its block timers (each the block timeout rounded up to the kernel's tick).
// This long after that moment the ring has nothing more to give.
constexpr auto LastBlockWait = std::chrono::milliseconds(5 * HelperProtocol::BufferTimeoutMs);

// How often an idle capture looks whether its adapter still exists. The kernel reports an
// adapter that goes down once, on the socket, and says nothing more when it is then removed:
// only looking finds that out. A few wake-ups a second cost nothing measurable.
constexpr int AdapterCheckMs = 250;

// At most this many packets are taken from the ring between two looks at the stop: libpcap
// would otherwise go on taking blocks for as long as the kernel fills them.
constexpr int PacketsPerTurn = 4096;

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point when)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
    return int(left > 0 ? left : 0);
}

} // namespace

LiveCapture::~LiveCapture()
{
    if (m_handle)
        pcap_close(m_handle);
}

int LiveCapture::open(const std::string& device, std::string* reason)
{
    m_device = device;
    m_ifindex = if_nametoindex(device.c_str());
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    // Not raised when cap_net_raw is not permitted: then libpcap's refusal says so.
    Privileges::raiseForOpening();
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
    if (!Privileges::dropAll()) {
        *reason = std::string("Cannot give up the capture capability: ") + std::strerror(errno);
        return HelperProtocol::DropFailed;
    }
    if (status < 0) {
        int exitStatus = 0;
        *reason = activateFailure(status, device, pcap_geterr(m_handle), &exitStatus);
        return exitStatus;
    }
    // Positive statuses are warnings (no promiscuous mode on "any", for one): capture works.
    if (pcap_setnonblock(m_handle, 1, errbuf) != 0 || pcap_get_selectable_fd(m_handle) < 0) {
        *reason = "Cannot wait for packets on " + device + ": " + pcap_geterr(m_handle);
        return HelperProtocol::OpenFailed;
    }
    ignoreOutgoingOnLoopback();
    return HelperProtocol::Ended;
}

// On a loopback adapter every packet passes twice, going out and coming in, and libpcap throws
// the outgoing copy away. Not taking it at all halves what the ring carries, and the kernel's
// counts then hold each packet once, so that they can be set against what was written. Other
// adapters keep both directions: what this machine sends there is traffic too.
void LiveCapture::ignoreOutgoingOnLoopback()
{
    ifreq request{};
    if (m_ifindex == 0 || m_device.size() >= sizeof request.ifr_name)
        return;
    std::memcpy(request.ifr_name, m_device.c_str(), m_device.size() + 1);
    const int socket = pcap_fileno(m_handle);
    if (::ioctl(socket, SIOCGIFFLAGS, &request) != 0)
        return;
    if (!(request.ifr_flags & IFF_LOOPBACK)) {
        m_countsOnce = true;
        return;
    }
    const int on = 1;
    m_countsOnce = ::setsockopt(socket, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on) == 0;
}

int LiveCapture::applyFilter(const std::string& filter, std::string* reason)
{
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
    // The socket took every packet between its opening and now; libpcap filters those out of
    // the ring, and the counts start from here.
    kernelCounts(&m_before);
    return HelperProtocol::Ended;
}

int LiveCapture::dispatch(RecordWriter& out)
{
    return pcap_dispatch(m_handle, PacketsPerTurn, onPacket,
                         reinterpret_cast<unsigned char*>(&out));
}

int LiveCapture::run(RecordWriter& out, StopSignals& stop, std::string* reason)
{
    if (!out.writeHeader(pcap_datalink(m_handle), pcap_snapshot(m_handle))) {
        *reason = std::string("Cannot write the capture: ") + std::strerror(out.error());
        return HelperProtocol::OutputFailed;
    }
    out.watch(stop.fd(), STDIN_FILENO, StopDrain);
    // The window never writes to our standard input: only its hang-up (the window has gone,
    // however it ended) is reported there. The stop is looked at first on every turn.
    pollfd waits[3] = {{stop.fd(), POLLIN, 0},
                       {STDIN_FILENO, 0, 0},
                       {pcap_get_selectable_fd(m_handle), POLLIN, 0}};
    Clock::time_point nextStats = Clock::now() + HelperProtocol::StatsInterval;
    while (!stop.take()) {
        int wait = millisecondsUntil(nextStats);
        if (m_ifindex && wait > AdapterCheckMs)
            wait = AdapterCheckMs;
        const int ready = ::poll(waits, 3, wait);
        if (ready < 0 && errno != EINTR) {
            *reason = "Capture on " + m_device + " stopped: " + std::strerror(errno);
            return HelperProtocol::CaptureEnded;
        }
        if (waits[0].revents)
            continue; // the stop: taken above
        if (waits[1].revents & (POLLHUP | POLLERR))
            return HelperProtocol::Ended; // nobody left to deliver to
        if (waits[1].revents & POLLNVAL)
            waits[1].fd = -1; // started without a standard input: nothing to watch there
        if (Clock::now() >= nextStats) {
            writeStats(out);
            nextStats = Clock::now() + HelperProtocol::StatsInterval;
        }
        if (ready == 0 && adapterGone()) {
            *reason = "Capture on " + m_device + " stopped: the adapter is gone.";
            return HelperProtocol::CaptureEnded;
        }
        if (waits[2].revents == 0)
            continue;
        const int taken = dispatch(out);
        if (taken < 0) {
            *reason = "Capture on " + m_device + " stopped: " + pcap_geterr(m_handle);
            return HelperProtocol::CaptureEnded;
        }
        if (taken == 0 && (waits[2].revents & POLLERR))
            clearSocketError(); // the adapter went down: wait, rather than wake at once again
        if (!out.flush())
            break;
    }
    const Clock::time_point stopped = Clock::now();
    stopTaking();
    drain(out, waits[1], stopped);
    if (out.failed()) {
        *reason = std::to_string(out.lost()) + " captured packets were lost: the capture could " +
                  "not be written (" + std::strerror(out.error()) + ").";
        return HelperProtocol::OutputFailed;
    }
    return HelperProtocol::Ended;
}

// A filter that accepts nothing, attached to the socket itself: from here on the kernel puts no
// packet into the ring, while what the ring already holds stays as it is. (libpcap's own
// pcap_setfilter would also have the blocks already queued filtered again, with the new filter,
// throwing away what was captured.) Should the kernel refuse, the drain still ends in time.
void LiveCapture::stopTaking()
{
    sock_filter rejectAll{BPF_RET | BPF_K, 0, 0, 0};
    const sock_fprog program{1, &rejectAll};
    ::setsockopt(pcap_fileno(m_handle), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
}

// Writes what the ring held when capture stopped taking, until StopDrain after the stop, whatever
// still arrives at the adapter and however slowly the output is read; waits for the kernel's
// last, partly filled block only as long as LastBlockWait. A hang-up of standard input ends it
// at once. What is left counts as dropped (statsLine); after a failed write it counts as lost.
void LiveCapture::drain(RecordWriter& out, pollfd input, Clock::time_point stopped)
{
    const Clock::time_point end = stopped + StopDrain;
    const Clock::time_point lastBlock = stopped + LastBlockWait;
    out.setDeadline(end);
    pollfd waits[2] = {input, {pcap_get_selectable_fd(m_handle), POLLIN, 0}};
    while (Clock::now() < end) {
        const int n = dispatch(out);
        if (n < 0 || !out.flush())
            return;
        if (n > 0)
            continue;
        const int left = millisecondsUntil(lastBlock);
        if (left <= 0)
            return;
        const int ready = ::poll(waits, 2, left);
        if (ready < 0 && errno != EINTR)
            return;
        if (waits[0].revents & (POLLHUP | POLLERR))
            return; // nobody left to deliver to
        if (waits[0].revents & POLLNVAL)
            waits[0].fd = -1;
    }
}

// By its index, which a rename keeps: a name can be given to another adapter.
bool LiveCapture::adapterGone() const
{
    char name[IF_NAMESIZE];
    return m_ifindex != 0 && !if_indextoname(m_ifindex, name) && errno == ENXIO;
}

void LiveCapture::clearSocketError()
{
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(pcap_get_selectable_fd(m_handle), SOL_SOCKET, SO_ERROR, &error, &length);
}

bool LiveCapture::kernelCounts(KernelCounts* counts)
{
    pcap_stat s{};
    if (!m_handle || pcap_stats(m_handle, &s) != 0)
        return false;
    *counts = {s.ps_recv, s.ps_drop, s.ps_ifdrop};
    return true;
}

void LiveCapture::writeStats(const RecordWriter& out)
{
    // For the window's reading thread; someone running the helper by hand on a terminal gets
    // the final line only.
    if (::isatty(STDERR_FILENO))
        return;
    const std::string line = statsLine(out, false);
    if (!line.empty())
        std::fprintf(stderr, "%s: %s\n", HelperProtocol::ProgramName, line.c_str());
}

std::string LiveCapture::statsLine(const RecordWriter& out, bool final)
{
    KernelCounts now;
    if (!kernelCounts(&now))
        return {};
    const std::uint64_t received = now.received - m_before.received;
    const std::uint64_t handedOn = out.written() + out.lost();
    // While capturing, packets on their way through the ring are not lost; at the end, what
    // the kernel took and did not get out (it was still in the ring at the deadline, or the
    // writer gave up on it) is. Only where the kernel counts each packet once can the two be
    // set against each other; elsewhere its drops and what the writer gave up are counted.
    std::uint64_t dropped = now.dropped - m_before.dropped + out.givenUp();
    if (final && m_countsOnce && received > handedOn)
        dropped = std::max(dropped, received - handedOn);
    dropped += now.adapterDropped - m_before.adapterDropped;
    return HelperProtocol::statsLine({handedOn, received, dropped});
}
