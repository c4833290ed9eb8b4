// A stand-in for the capture helper, run by the window's side exactly as the real one is
// (kintosniffer-capture --interface NAME --filter EXPRESSION), without any privilege. The filter
// is its script, words run in order:
//   hang            wait, before any header, until killed
//   exit=N          say why on standard error and exit with status N, before any header
//   kill            die by SIGKILL          term  stop itself with SIGTERM, as from outside
//   badheader       a header that is not a savefile's     snaplen=N  the header announces N
//   header          a good header (implied by records=N)
//   records=N       N records "***[n]" in a 50-byte frame; split: one byte per write
//   half            half a record, then death by SIGKILL
//   corrupt         a record longer than the snapshot length
//   ignore-term     SIGTERM does nothing
//   lost=N          at the stop, report N lost packets (status 8)
//   outside         end at once as if stopped from outside (status 10)
//   stream=N        from here on a record every N ms
//   flood           records as fast as the output takes them, a megabyte per write
//   held=N          N records still held at the stop, written after it
//   dropped=N       N packets lost on the way: counted at once, and in the final counts
// Without an end of its own it waits for SIGTERM (or its window's going), streaming if asked,
// as the real helper captures until its filter that accepts nothing applies; then it writes
// what it held, the kernel counts line for the records it sent, and exits 0.
#include "helperprotocol.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;
bool g_split = false;
std::uint32_t g_snaplen = HelperProtocol::SnapshotLength;

void writeAll(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size;) {
        const std::size_t part = g_split ? 1 : size - i;
        const ssize_t n = ::write(STDOUT_FILENO, data + i, part);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            _exit(HelperProtocol::OutputFailed);
        i += std::size_t(n);
    }
}

void put32(std::vector<char>& out, std::uint32_t value)
{
    out.resize(out.size() + sizeof value);
    std::memcpy(out.data() + out.size() - sizeof value, &value, sizeof value);
}

void header(std::uint32_t magic)
{
    std::vector<char> out;
    put32(out, magic);
    put32(out, 2 | (4u << 16)); // version 2.4
    put32(out, 0);
    put32(out, 0);
    put32(out, g_snaplen);
    put32(out, 1); // Ethernet
    writeAll(out.data(), out.size());
}

std::vector<char> record(int n, std::uint32_t length = 50)
{
    std::vector<char> out;
    put32(out, 1700000000u + std::uint32_t(n));
    put32(out, 0);
    put32(out, length);
    put32(out, length);
    std::vector<char> frame(length, '\0');
    const std::string payload = "***[" + std::to_string(n) + "]";
    std::memcpy(frame.data() + length - payload.size(), payload.data(), payload.size());
    out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

int say(int status, const std::string& line)
{
    std::fprintf(stderr, "%s: %s\n", HelperProtocol::ProgramName, line.c_str());
    return status;
}

void onTerm(int)
{
    g_stop = 1;
}

int value(const std::string& word)
{
    return std::stoi(word.substr(word.find('=') + 1));
}

void send(int& sent, int count)
{
    std::vector<char> out;
    for (int i = 0; i < count; ++i) {
        const std::vector<char> r = record(++sent);
        out.insert(out.end(), r.begin(), r.end());
    }
    writeAll(out.data(), out.size());
}

// About a megabyte of records.
constexpr int FloodRecords = 16384;

// Until the stop or the window's going (standard input hangs up): a record every intervalMs (0:
// as fast as the output takes them; -1: none). The traffic dies down after 3 s, so that a window
// that waits for it to end fails a test rather than hanging it.
void captureUntilStopped(int& sent, int intervalMs)
{
    const auto quiet = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    pollfd in{STDIN_FILENO, 0, 0};
    while (!g_stop && !(::poll(&in, 1, intervalMs) > 0 && in.revents != 0)) {
        if (std::chrono::steady_clock::now() > quiet)
            intervalMs = -1;
        else if (intervalMs >= 0 && !g_stop)
            send(sent, intervalMs == 0 ? FloodRecords : 1);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    std::string script = argc > 0 ? argv[argc - 1] : "";
    struct sigaction action = {};
    action.sa_handler = onTerm;
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    int sent = 0;
    int lost = -1;
    int interval = -1;
    int held = 0;
    std::uint64_t dropped = 0;
    std::size_t at = 0;
    while (at < script.size()) {
        std::size_t end = script.find(' ', at);
        if (end == std::string::npos)
            end = script.size();
        const std::string word = script.substr(at, end - at);
        at = end + 1;
        if (word == "hang") {
            std::signal(SIGTERM, SIG_DFL);
            for (;;)
                ::pause();
        } else if (word.rfind("exit=", 0) == 0) {
            return say(value(word), "stub ends with status " + word.substr(5) + ".");
        } else if (word == "kill" || word == "term") {
            std::signal(SIGTERM, SIG_DFL);
            ::raise(word == "kill" ? SIGKILL : SIGTERM);
        } else if (word == "badheader") {
            header(0x0a0d0d0a);
        } else if (word.rfind("snaplen=", 0) == 0) {
            g_snaplen = std::uint32_t(std::stoul(word.substr(8)));
            header(0xa1b2c3d4);
        } else if (word == "header") {
            header(0xa1b2c3d4);
        } else if (word == "split") {
            g_split = true;
        } else if (word.rfind("records=", 0) == 0) {
            if (sent == 0)
                header(0xa1b2c3d4);
            send(sent, value(word));
        } else if (word == "half") {
            const std::vector<char> r = record(sent + 1);
            writeAll(r.data(), r.size() / 2);
            ::raise(SIGKILL);
        } else if (word == "corrupt") {
            const std::vector<char> r = record(sent + 1, g_snaplen + 1);
            writeAll(r.data(), 16);
        } else if (word == "ignore-term") {
            std::signal(SIGTERM, SIG_IGN);
        } else if (word.rfind("lost=", 0) == 0) {
            lost = value(word);
        } else if (word.rfind("stream=", 0) == 0) {
            interval = value(word);
        } else if (word == "flood") {
            interval = 0;
        } else if (word.rfind("held=", 0) == 0) {
            held = value(word);
        } else if (word.rfind("dropped=", 0) == 0) {
            dropped = std::uint64_t(value(word));
            say(0, HelperProtocol::statsLine({std::uint64_t(sent), std::uint64_t(sent), dropped}));
        } else if (word == "outside") {
            say(0, HelperProtocol::statsLine({std::uint64_t(sent), std::uint64_t(sent), 0}));
            return say(HelperProtocol::EndedFromOutside, "stopped from outside.");
        }
    }
    captureUntilStopped(sent, interval);
    if (g_stop)
        send(sent, held);
    if (lost >= 0)
        return say(HelperProtocol::OutputFailed,
                   std::to_string(lost) + " captured packets were lost: the capture could not "
                                          "be written (Broken pipe).");
    say(0,
        HelperProtocol::statsLine({std::uint64_t(sent), std::uint64_t(sent) + dropped, dropped}));
    return HelperProtocol::Ended;
}
