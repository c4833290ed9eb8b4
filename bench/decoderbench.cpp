// Micro-benchmarks of the per-packet text work, each through the functions the program calls:
//   DetailWindowDecode  HexText + DecodePayload, what the detail window does for its packet;
//   ListRowDecode       DecodePacketMessage, and the cell's text, what the list does once for a
//   row's type and data; LogRecord           LogRows: a row's record made from the stored bytes,
//   what Save Log does
//                       for a row.

#include "logrows.h"
#include "packetbatch.h"
#include "packetlistmodel.h"
#include "payloaddecoder.h"

#include <benchmark/benchmark.h>

#include <memory>

#include <QByteArray>
#include <QDateTime>

#include <vector>

namespace {

constexpr int Variants = 1024; // packets with different counters, used in turn

// A loopback frame as libpcap delivers it: Ethernet, IPv4 and UDP headers, then the message.
QByteArray frame(int counter, int size)
{
    QByteArray bytes = QByteArray::fromHex("000000000000000000000000080045000000abcd40004011"
                                           "00007f0000017f000001c350100f00000000");
    bytes += "***[" + QByteArray::number(counter) + "]";
    const char filler[] = "Hello, all devices on this segment: ";
    for (int i = 0; bytes.size() < size - 6; ++i)
        bytes += i % 64 == 63 ? char(0xDA) : filler[i % (sizeof filler - 1)];
    bytes += char(0xDA);
    bytes += "Hello";
    return bytes.left(size);
}

std::vector<QByteArray> frames(int size)
{
    std::vector<QByteArray> out;
    for (int i = 0; i < Variants; ++i)
        out.push_back(frame(100000 + i, size));
    return out;
}

void DetailWindowDecode(benchmark::State& state)
{
    const std::vector<QByteArray> packets = frames(int(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        const QString hex = HexText(packets[i++ % Variants]);
        QString decoded = DecodePayload(hex);
        benchmark::DoNotOptimize(decoded);
    }
    state.SetItemsProcessed(state.iterations());
}

void ListRowDecode(benchmark::State& state)
{
    const std::vector<QByteArray> packets = frames(int(state.range(0)));
    const auto room = std::make_unique<char[]>(size_t(DecodedRoomForAnyPacket));
    size_t i = 0;
    for (auto _ : state) {
        MessageType type;
        const QByteArrayView data = DecodePacketMessage(packets[i++ % Variants], &type, room.get());
        QString text = QString::fromLatin1(data); // the cell's text
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
}

void SaveLogRow(benchmark::State& state)
{
    PacketListModel model;
    const std::vector<QByteArray> packets = frames(int(state.range(0)));
    const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1000;
    PacketBatch batch;
    for (int k = 0; k < Variants; ++k)
        batch.append(now + k * 10, quint32(packets[size_t(k)].size()), packets[size_t(k)]);
    model.OnPackets(batch);
    std::vector<char> scratch(LogRows::ScratchBytes);
    LogRows rows(model.store(), scratch.data());
    QByteArray out(2 << 20, Qt::Uninitialized);
    char* w = out.data();
    int row = 0;
    for (auto _ : state) {
        rows.load(row);
        w = rows.write(w);
        row = (row + 1) % Variants;
        if (w - out.constData() > (1 << 20))
            w = out.data();
    }
    benchmark::DoNotOptimize(w);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(DetailWindowDecode)->Arg(60)->Arg(1500);
BENCHMARK(ListRowDecode)->Arg(60)->Arg(1500);
BENCHMARK(SaveLogRow)->Name("LogRecord")->Arg(60)->Arg(1500);

BENCHMARK_MAIN();
