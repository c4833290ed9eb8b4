#pragma once

// What the window and its capture helper agree on. The helper is plain C++ without Qt, so this
// header is too.
//
//   kintosniffer-capture --interface NAME --filter EXPRESSION
//
// On success the helper writes a pcap savefile to its standard output (readable by
// "tcpdump -r -"), one write per batch libpcap hands over; the file header is written only once
// the capture is open, every capability given up and the filter applied, so its arrival means
// "capturing". On failure it writes one line to standard error and exits with one of the
// statuses below. While it captures it writes its counts to standard error (statsLine) every
// StatsInterval, and once more when it ends: the last such line is the final count.

#include <charconv>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace HelperProtocol {

constexpr const char* ProgramName = "kintosniffer-capture";
constexpr const char* InterfaceOption = "--interface";
constexpr const char* FilterOption = "--filter";

enum Exit : int {
    Ended = 0,         // stopped by the window (SIGTERM from it, or it has gone)
    Usage = 2,         // an unknown option or a missing argument
    NoSuchAdapter = 3, // no such device, or one that is not a network adapter
    NoPermission = 4,  // cap_net_raw missing, or present but kept from taking effect
    OpenFailed = 5,    // any other reason libpcap could not open the adapter
    FilterFailed = 6,
    CaptureEnded = 7, // the adapter went away or the kernel refused to go on
    OutputFailed = 8, // the output could not be written: packets were lost (the line says how many)
    DropFailed = 9,   // the kernel refused to take a capability or the user id away
    EndedFromOutside = 10, // a signal from someone other than the window stopped the capture
};

// The pcap savefile as the helper writes it and the window reads it: a file header, then per
// packet a record header of four native-order words (seconds, microseconds, captured length,
// wire length) and the captured bytes.
constexpr std::uint32_t MicrosecondMagic = 0xa1b2c3d4;
constexpr std::uint32_t NanosecondMagic = 0xa1b23c4d; // read too: tcpdump -w can write it
constexpr int FileHeaderBytes = 24;
constexpr int RecordHeaderBytes = 16;
// The largest loopback frame fits whole; no packet the window holds is longer. The window
// refuses a stream that announces more.
constexpr int SnapshotLength = 262144;
// The packed ring (TPACKET_V3): small packets take about a hundred bytes each.
constexpr int BufferBytes = 16 << 20;
// A lone packet shows within about this.
constexpr int BufferTimeoutMs = 10;

// A line on standard error, after the program's name: what the helper handed on (captured),
// what the kernel took for this capture (received, each packet once: on loopback the outgoing
// copy is not taken), and the packets lost on the way (dropped: the kernel's ring was full, or
// the adapter dropped them; in the final line also what was left unwritten when the helper had
// to end). No count ever goes down.
constexpr auto StatsInterval = std::chrono::seconds(1);

struct Counts
{
    std::uint64_t captured = 0;
    std::uint64_t received = 0;
    std::uint64_t dropped = 0;
};

inline std::string statsLine(const Counts& counts)
{
    return std::to_string(counts.captured) + " packets captured, " +
           std::to_string(counts.received) + " received, " + std::to_string(counts.dropped) +
           " dropped";
}

// Reads what statsLine wrote (without the program's name); false for any other line.
inline bool parseStatsLine(std::string_view line, Counts* counts)
{
    auto number = [&line](std::uint64_t* value) {
        const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), *value);
        if (error != std::errc() || end == line.data())
            return false;
        line.remove_prefix(size_t(end - line.data()));
        return true;
    };
    auto word = [&line](std::string_view text) {
        if (line.substr(0, text.size()) != text)
            return false;
        line.remove_prefix(text.size());
        return true;
    };
    return number(&counts->captured) && word(" packets captured, ") && number(&counts->received) &&
           word(" received, ") && number(&counts->dropped) && word(" dropped") && line.empty();
}

} // namespace HelperProtocol
