// The capture benchmark: a burst of UDP datagrams on the loopback adapter through the real main
// window and the real libpcap component, then the same burst through tcpdump for reference.
//
//   kinto_capturebench [--count N] [--long] [--json FILE] [--no-tcpdump] [--x11]
//   kinto_capturebench --overload helper|program [--percent P] [--count N] [--json FILE]
//
// --overload holds the capture helper to 1 % of a CPU, or the whole program to 10 % (or P %), with
// a CPU cgroup, sends 3,000,000 datagrams (unless --count says otherwise), stops, and stops twice
// more under a flood: rows, dropped and sent, and how soon each stop ended.
//
// --long captures 10,000,000 datagrams (unless --count says otherwise) in one capture and also
// reports the cost per packet of the first and of the last million; it skips tcpdump.
//
// Needs the right to capture (root). Prints one key=value line and writes the same figures to
// a JSON file (capturebench.json unless --json says otherwise). Offscreen unless --x11 is given
// and a display is set.

#include "benchdialogs.h"
#include "benchreport.h"
#include "capturecontroller.h"
#include "mainwindow.h"
#include "overloadbench.h"
#include "pcapcapture.h"
#include "portsink.h"
#include "tcpdumpreference.h"
#include "windowbench.h"

#include <QApplication>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Options
{
    qint64 count = 1000000;
    bool countGiven = false;
    bool longRun = false;
    QString json = QStringLiteral("capturebench.json");
    bool tcpdump = true;
    bool x11 = false;
    QString overload; // helper, program, or empty
    int percent = 0;  // of one CPU; 0: 1 for the helper, 10 for the program
};

bool parse(int argc, char** argv, Options* options)
{
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--count") && hasValue) {
            options->count = QByteArray(argv[++i]).toLongLong();
            options->countGiven = true;
        } else if (!std::strcmp(argv[i], "--long")) {
            options->longRun = true;
        } else if (!std::strcmp(argv[i], "--json") && hasValue) {
            options->json = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--no-tcpdump")) {
            options->tcpdump = false;
        } else if (!std::strcmp(argv[i], "--x11")) {
            options->x11 = true;
        } else if (!std::strcmp(argv[i], "--percent") && hasValue) {
            options->percent = std::atoi(argv[++i]);
            if (options->percent < 1 || options->percent > 100)
                return false;
        } else if (!std::strcmp(argv[i], "--overload") && hasValue) {
            options->overload = QString::fromLocal8Bit(argv[++i]);
            if (options->overload != u"helper" && options->overload != u"program")
                return false;
        } else {
            return false;
        }
    }
    if (!options->overload.isEmpty()) {
        options->tcpdump = false;
        if (!options->countGiven)
            options->count = 3000000;
    }
    if (options->longRun) {
        options->tcpdump = false;
        if (!options->countGiven)
            options->count = 10000000;
    }
    return options->count > 0;
}

void addReference(BenchReport& report, const TcpdumpReference::Result& tcpdump,
                  double ourSenderRate)
{
    report.add(QStringLiteral("tcpdump_captured"), tcpdump.captured);
    report.add(QStringLiteral("tcpdump_drops"), tcpdump.dropped);
    report.add(QStringLiteral("tcpdump_sender_rate"), tcpdump.senderRate, 0);
    report.add(QStringLiteral("tcpdump_cpu_us_per_packet"),
               tcpdump.cpuSeconds * 1e6 / double(std::max<qint64>(tcpdump.captured, 1)), 3);
    report.add(QStringLiteral("sender_rate_vs_tcpdump"),
               tcpdump.senderRate > 0 ? ourSenderRate / tcpdump.senderRate : 0.0, 3);
}

// The overload run: a window of its own, nothing else.
bool runOverload(const Options& options, const QString& sender, BenchReport& report)
{
    auto dialogs = std::make_unique<BenchDialogs>();
    BenchDialogs* answers = dialogs.get();
    MainWindow window(std::make_unique<PcapCapture>(), std::move(dialogs));
    window.Form_Load();
    const QList<CaptureAdapter> adapters = window.component().adapters();
    for (int i = 0; i < adapters.size(); ++i) {
        if (adapters[i].name == u"lo")
            window.controller().combo1_Click(i);
    }
    const PortSink sink;
    OverloadBench bench(sender,
                        options.overload == u"helper" ? OverloadBench::Held::Helper
                                                      : OverloadBench::Held::Program,
                        options.count, options.percent);
    if (!bench.run(window, sink.port(), report)) {
        std::fprintf(stderr, "capturebench: %s\n", qPrintable(bench.error()));
        return false;
    }
    report.add(QStringLiteral("overload_messages"), qint64(answers->unexpectedMessages().size()));
    for (const QString& message : answers->unexpectedMessages())
        std::fprintf(stderr, "capturebench: the window said: %s\n", qPrintable(message));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, &options)) {
        std::fprintf(
            stderr,
            "usage: %s [--count N] [--long] [--json FILE] [--no-tcpdump] [--x11]\n"
            "       %s --overload helper|program [--percent P] [--count N] [--json FILE]\n",
            argv[0], argv[0]);
        return 2;
    }
    const bool x11 = options.x11 && !qEnvironmentVariableIsEmpty("DISPLAY");
    qputenv("QT_QPA_PLATFORM", x11 ? "xcb" : "offscreen");
    QApplication app(argc, argv);

    const QString sender =
        QCoreApplication::applicationDirPath() + QStringLiteral("/kinto_udpflood");
    BenchReport report;
    report.addText(QStringLiteral("platform"), QApplication::platformName());
    report.add(QStringLiteral("count"), options.count);
    report.addText(QStringLiteral("mode"),
                   options.longRun ? QStringLiteral("long") : QStringLiteral("burst"));
    WindowBench window(sender, options.count, options.longRun);
    if (!options.overload.isEmpty()) {
        if (!runOverload(options, sender, report))
            return 1;
    } else if (!window.run(report)) {
        std::fprintf(stderr, "capturebench: %s\n", qPrintable(window.error()));
        return 1;
    }
    if (options.tcpdump) {
        const PortSink sink; // a port of its own, so that no late datagram of ours is counted
        const TcpdumpReference::Result tcpdump =
            TcpdumpReference::run(sender, sink.port(), options.count);
        if (!tcpdump.ok) {
            std::fprintf(stderr, "capturebench: tcpdump reference: %s\n",
                         qPrintable(tcpdump.error));
            return 1;
        }
        addReference(report, tcpdump, window.senderRate());
    }
    std::printf("%s\n", qPrintable(report.line()));
    QFile json(options.json);
    if (!json.open(QIODevice::WriteOnly) || json.write(report.json()) < 0) {
        std::fprintf(stderr, "capturebench: %s: %s\n", qPrintable(options.json),
                     qPrintable(json.errorString()));
        return 1;
    }
    return 0;
}
