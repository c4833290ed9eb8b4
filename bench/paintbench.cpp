// Micro-benchmark of one repaint of the packet list as a burst makes it: the window's list at
// its own size, full of rows, scrolled to the last row and drawn again, offscreen.
//   ListRepaint/N   one paint of the visible rows of a list of N rows

#include "mainwindow.h"
#include "packetbatch.h"
#include "packetlistmodel.h"
#include "pcapcapture.h"
#include "qtdialogs.h"

#include <benchmark/benchmark.h>

#include <QAbstractItemView>
#include <QApplication>

#include <memory>

namespace {

void ListRepaint(benchmark::State& state)
{
    MainWindow window(std::make_unique<PcapCapture>(), std::make_unique<QtDialogs>());
    window.addListColumns(); // as the start-up does
    window.show();
    PacketBatch batch;
    const QByteArray header = QByteArray::fromHex("000000000000000000000000080045000000abcd"
                                                  "4000401100007f0000017f000001c350100f0000");
    for (int n = 1; n <= int(state.range(0)); ++n) {
        const QByteArray frame = header + "***[" + QByteArray::number(n) + "]\xDAHello";
        batch.append(1700000000000000LL + n * 1000LL, quint32(frame.size()), frame);
    }
    window.model().OnPackets(batch);
    auto* view = window.findChild<QAbstractItemView*>(QStringLiteral("ListView1"));
    QApplication::processEvents();
    view->scrollToBottom();
    QApplication::processEvents();
    for (auto _ : state)
        benchmark::DoNotOptimize(view->viewport()->grab());
}
BENCHMARK(ListRepaint)->Arg(100000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
