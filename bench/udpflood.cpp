// Sends a burst of UDP datagrams to 127.0.0.1 as fast as the kernel takes them, for the capture
// benchmark. It is a process of its own so that its CPU time is not counted as the window's.
//
//   kinto_udpflood --port P [--count N] [--batch B]
//
// Datagram k (1 to N) carries "***[k]", the line-break byte 218 and "Hello": an "Advertise"
// message of about 20 bytes, 60 bytes on the loopback wire. On success one line is printed:
//   sent=N seconds=S rate=R first_send_ns=T0 last_send_ns=T1
// where the times are CLOCK_MONOTONIC, comparable with the benchmark's own.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int MaxPayload = 64;

struct Options
{
    int port = 0;
    long count = 1000000;
    int batch = 256;
};

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000 + now.tv_nsec;
}

bool parse(int argc, char** argv, Options* options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const long value = std::strtol(argv[i + 1], nullptr, 10);
        if (name == "--port")
            options->port = int(value);
        else if (name == "--count")
            options->count = value;
        else if (name == "--batch")
            options->batch = int(value);
        else
            return false;
    }
    return argc % 2 == 1 && options->port > 0 && options->port < 65536 && options->count > 0 &&
           options->batch > 0 && options->batch <= 1024;
}

int writePayload(char* out, long counter)
{
    const int n = std::snprintf(out, MaxPayload, "***[%ld]", counter);
    out[n] = char(0xDA); // the devices' line break
    std::memcpy(out + n + 1, "Hello", 5);
    return n + 6;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, &options)) {
        std::fprintf(stderr, "usage: %s --port P [--count N] [--batch B (1-1024)]\n", argv[0]);
        return 2;
    }
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) {
        std::perror("socket");
        return 1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(options.port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK); // never anything but the loopback

    std::vector<char> payloads(size_t(options.batch) * MaxPayload);
    std::vector<iovec> parts(size_t(options.batch));
    std::vector<mmsghdr> messages(size_t(options.batch));
    for (int i = 0; i < options.batch; ++i) {
        parts[size_t(i)].iov_base = payloads.data() + size_t(i) * MaxPayload;
        messages[size_t(i)].msg_hdr = {&to, sizeof to, &parts[size_t(i)], 1, nullptr, 0, 0};
    }

    const long long first = monotonicNs();
    long sent = 0;
    while (sent < options.count) {
        const int n = int(std::min<long>(options.batch, options.count - sent));
        for (int i = 0; i < n; ++i)
            parts[size_t(i)].iov_len =
                size_t(writePayload(payloads.data() + size_t(i) * MaxPayload, sent + i + 1));
        const int done = sendmmsg(s, messages.data(), unsigned(n), 0);
        if (done < 0) {
            if (errno == EINTR || errno == ENOBUFS || errno == EAGAIN)
                continue;
            std::perror("sendmmsg");
            return 1;
        }
        // What the kernel did not take is built again from its counter and sent next round.
        sent += done;
    }
    const long long last = monotonicNs();
    close(s);

    const double seconds = double(last - first) / 1e9;
    std::printf("sent=%ld seconds=%.6f rate=%.0f first_send_ns=%lld last_send_ns=%lld\n", sent,
                seconds, seconds > 0 ? double(sent) / seconds : 0.0, first, last);
    return 0;
}
