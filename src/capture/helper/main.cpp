// kintosniffer-capture: the only part of Kinto Sniffer that may capture. It opens one adapter
// with one filter, gives up every capability, and writes what it captures to its standard
// output as a pcap savefile for the window to read. It uses no environment, no configuration
// and no plugins: what it does is fixed by its command line.
#include "helperprotocol.h"
#include "livecapture.h"
#include "privileges.h"

#include <pcap/pcap.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

LiveCapture* g_capture = nullptr;

int fail(int status, const std::string& reason)
{
    std::fprintf(stderr, "%s: %s\n", HelperProtocol::ProgramName, reason.c_str());
    return status;
}

struct Options
{
    std::string interface;
    std::string filter;
    bool hasInterface = false;
    bool hasFilter = false;
};

// Returns an empty text, or why the command line cannot be used.
std::string parse(int argc, char* argv[], Options* options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool isInterface = arg == HelperProtocol::InterfaceOption;
        if (!isInterface && arg != HelperProtocol::FilterOption)
            return arg.rfind('-', 0) == 0 ? "unknown option " + arg : "unexpected argument " + arg;
        if (i + 1 >= argc)
            return "option " + arg + " needs a value";
        bool& seen = isInterface ? options->hasInterface : options->hasFilter;
        if (seen)
            return "option " + arg + " given twice";
        seen = true;
        (isInterface ? options->interface : options->filter) = argv[++i];
    }
    if (!options->hasInterface)
        return std::string("missing ") + HelperProtocol::InterfaceOption;
    if (!options->hasFilter)
        return std::string("missing ") + HelperProtocol::FilterOption;
    return {};
}

bool isListed(const std::string& device, std::string* reason)
{
    pcap_if_t* devices = nullptr;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    if (pcap_findalldevs(&devices, errbuf) != 0) {
        *reason = std::string("Cannot list the adapters: ") + errbuf;
        return false;
    }
    bool found = false;
    for (const pcap_if_t* d = devices; d && !found; d = d->next)
        found = device == d->name;
    pcap_freealldevs(devices);
    if (!found)
        *reason = "There is no adapter named \"" + device + "\".";
    return found;
}

void onStopSignal(int)
{
    if (g_capture)
        g_capture->stop();
}

void handleStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A closed output shows as a failed write, not as a signal that kills us unannounced.
    std::signal(SIGPIPE, SIG_IGN);
}

// The window holds the write end of our standard input and never writes to it: when its
// process ends, however it ends, the pipe hangs up.
bool stdinHungUp()
{
    pollfd in{STDIN_FILENO, POLLIN, 0};
    return ::poll(&in, 1, 0) > 0 && (in.revents & (POLLHUP | POLLERR)) != 0;
}

} // namespace

int main(int argc, char* argv[])
{
    ::clearenv();
    // The window's death ends us, even by SIGKILL; the check closes the race with its start.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (stdinHungUp())
        return HelperProtocol::Ended;

    Options options;
    const std::string usage = parse(argc, argv, &options);
    if (!usage.empty())
        return fail(HelperProtocol::Usage, usage + " (usage: " + HelperProtocol::ProgramName + " " +
                                               HelperProtocol::InterfaceOption + " NAME " +
                                               HelperProtocol::FilterOption + " EXPRESSION)");
    std::string reason;
    if (!isListed(options.interface, &reason))
        return fail(HelperProtocol::NoSuchAdapter, reason);

    LiveCapture capture;
    const int opened = capture.open(options.interface, options.filter, &reason);
    if (opened != HelperProtocol::Ended)
        return fail(opened, reason);
    if (!Privileges::dropAll())
        return fail(HelperProtocol::OpenFailed, "cannot give up the capture capabilities");

    g_capture = &capture;
    handleStopSignals();
    // Large writes: one system call per batch rather than per packet.
    static char buffer[1 << 20];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    const int status = capture.run(stdout, stdinHungUp, &reason);
    const std::string stats = capture.statsLine();
    std::fprintf(stderr, "%s: %s", HelperProtocol::ProgramName, stats.c_str());
    g_capture = nullptr;
    return status == HelperProtocol::Ended ? status : fail(status, reason);
}
