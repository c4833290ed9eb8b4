#pragma once

// What the window and its capture helper agree on. The helper is plain C++ without Qt, so this
// header is too.
//
//   kintosniffer-capture --interface NAME --filter EXPRESSION
//
// On success the helper writes a pcap savefile to its standard output (readable by
// "tcpdump -r -"), flushed after every batch libpcap hands over; the file header is written
// only once the capture is open, the filter applied and every capability given up, so its
// arrival means "capturing". On failure it writes one line to standard error and exits with
// one of the statuses below. When it ends it writes its kernel counts to standard error.
namespace HelperProtocol {

constexpr const char* ProgramName = "kintosniffer-capture";
constexpr const char* InterfaceOption = "--interface";
constexpr const char* FilterOption = "--filter";

enum Exit : int {
    Ended = 0,        // stopped (SIGTERM, output closed, the window gone)
    Usage = 2,        // an unknown option or a missing argument
    NoSuchAdapter = 3,
    NoPermission = 4,
    OpenFailed = 5,
    FilterFailed = 6,
    CaptureEnded = 7, // the adapter went away or the kernel refused to go on
    OutputFailed = 8,
};

// The largest loopback frame fits whole.
constexpr int SnapshotLength = 262144;
// The packed ring (TPACKET_V3): small packets take about a hundred bytes each.
constexpr int BufferBytes = 16 << 20;
// A lone packet shows within about this.
constexpr int BufferTimeoutMs = 10;

// The last line on standard error: "<received> packets received, <dropped> dropped".
constexpr const char* StatsFormat = "%llu packets received, %llu dropped\n";

} // namespace HelperProtocol
