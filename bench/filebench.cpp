// Reads a capture file into the real main window and saves the list again as a capture, timing
// both, with the window's longest stall meanwhile; dd copies the file's bytes (synced, as the
// save is) just before and just after the save, for the disk's own speed in the same run.
//
//   kinto_filebench FILE OUT

#include "benchdialogs.h"
#include "mainwindow.h"
#include "packetlistmodel.h"
#include "pcapcapture.h"
#include "stallmeter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>

namespace {

template <typename Step> double timed(StallMeter& meter, Step step)
{
    QElapsedTimer clock;
    meter.start();
    clock.start();
    step();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    meter.stop();
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE OUT\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString file = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    auto* dialogs = new BenchDialogs;
    dialogs->setLogFileName(out);
    MainWindow window(std::make_unique<PcapCapture>(), std::unique_ptr<Dialogs>(dialogs));

    window.Form_Load(); // listing the adapters and showing the window are not the file's
    StallMeter readStall;
    const double read = timed(readStall, [&] { window.openCapture(file); });
    const qsizetype rows = window.model().rowCount();
    // The disk's speed changes from minute to minute on a shared machine: dd runs just before
    // and just after the save.
    StallMeter ddStall;
    const auto dd = [&] {
        const double seconds = timed(ddStall, [&] {
            QProcess::execute(QStringLiteral("dd"),
                              {QStringLiteral("if=") + file, QStringLiteral("of=") + out + ".dd",
                               QStringLiteral("bs=1M"), QStringLiteral("conv=fsync"),
                               QStringLiteral("status=none")});
        });
        QFile::remove(out + ".dd");
        return seconds;
    };
    const double ddBefore = dd();
    StallMeter saveStall;
    const double save = timed(saveStall, [&] { window.savecapture_Click(); });
    const double ddAfter = dd();

    std::printf("rows=%lld file_bytes=%lld read_s=%.2f read_us_per_packet=%.3f "
                "read_max_stall_ms=%.1f\n",
                (long long)rows, (long long)QFileInfo(file).size(), read, read * 1e6 / rows,
                readStall.worstMs());
    std::printf("saved_bytes=%lld save_s=%.2f save_max_stall_ms=%.1f dd_before_s=%.2f "
                "dd_after_s=%.2f save_vs_dd_mean=%.2f\n",
                (long long)QFileInfo(out).size(), save, saveStall.worstMs(), ddBefore, ddAfter,
                2 * save / (ddBefore + ddAfter));
    for (const QString& message : dialogs->unexpectedMessages())
        std::printf("message: %s\n", qPrintable(message));
    return dialogs->unexpectedMessages().isEmpty() ? 0 : 1;
}
