// kintosniffer-capture: the only part of Kinto Sniffer that may capture. It opens one network
// adapter, gives up every capability, applies one filter and writes what it captures to its
// standard output as a pcap savefile for the window to read. It uses no environment, no
// configuration and no plugins: what it does is fixed by its command line.
#include "adapterrule.h"
#include "helperprotocol.h"
#include "livecapture.h"
#include "privileges.h"
#include "recordwriter.h"
#include "stopsignals.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

pid_t g_window = 0;

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

// The window offers only network adapters (AdapterRule); whoever else runs the helper gets no
// more than that.
bool isNetworkAdapter(const std::string& device, std::string* reason)
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
    else if (!AdapterRule::isNetworkAdapter(device))
        *reason = "\"" + device +
                  "\" is not a network adapter: only network adapters can be "
                  "captured on.";
    return found && AdapterRule::isNetworkAdapter(device);
}

// The window holds the write end of our standard input and never writes to it: when its
// process ends, however it ends, the pipe hangs up.
bool stdinHungUp()
{
    pollfd in{STDIN_FILENO, 0, 0};
    return ::poll(&in, 1, 0) > 0 && (in.revents & (POLLHUP | POLLERR)) != 0;
}

int capture(const Options& options)
{
    std::string reason;
    if (!isNetworkAdapter(options.interface, &reason))
        return fail(HelperProtocol::NoSuchAdapter, reason);
    LiveCapture capture;
    int status = capture.open(options.interface, &reason);
    if (status == HelperProtocol::Ended)
        status = capture.applyFilter(options.filter, &reason);
    if (status != HelperProtocol::Ended)
        return fail(status, reason);

    StopSignals stop;
    if (!stop.open(g_window))
        return fail(HelperProtocol::CaptureEnded,
                    std::string("Cannot wait for a stop: ") + std::strerror(errno));
    // A closed output shows as a failed write, not as a signal that kills us unannounced.
    std::signal(SIGPIPE, SIG_IGN);
    RecordWriter out(STDOUT_FILENO);
    status = capture.run(out, stop, &reason);
    if (status == HelperProtocol::Ended && stop.stopped() && !stop.fromWindow()) {
        status = HelperProtocol::EndedFromOutside;
        reason = "The capture was ended by a signal from outside Kinto Sniffer.";
    }
    const std::string stats = capture.statsLine(out, true);
    if (status != HelperProtocol::Ended)
        fail(status, reason);
    if (!stats.empty())
        std::fprintf(stderr, "%s: %s\n", HelperProtocol::ProgramName, stats.c_str());
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    ::clearenv();
    // The window starts us from its user-interface thread, which lives as long as the window:
    // the death signal follows the thread that spawned us, not its process, so a helper
    // started from a worker thread would get it when that thread ended. Standard input's
    // hang-up (stdinHungUp, and the wait in LiveCapture::run) covers any other case.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    g_window = ::getppid();
    if (stdinHungUp())
        return HelperProtocol::Ended;
    if (!Privileges::lowerAll())
        return fail(HelperProtocol::DropFailed,
                    std::string("Cannot lower the capture capability: ") + std::strerror(errno));

    Options options;
    const std::string usage = parse(argc, argv, &options);
    if (!usage.empty())
        return fail(HelperProtocol::Usage, usage + " (usage: " + HelperProtocol::ProgramName + " " +
                                               HelperProtocol::InterfaceOption + " NAME " +
                                               HelperProtocol::FilterOption + " EXPRESSION)");
    return capture(options);
}
