#include "logrows.h"

#include "packetstore.h"
#include "payloaddecoder.h"

#include <array>
#include <charconv>
#include <limits>

namespace {

qint64 floorSecond(qint64 timeUs)
{
    const qint64 s = timeUs / 1000000;
    return s - (timeUs % 1000000 < 0);
}

const std::array<QByteArray, 5>& typeNames()
{
    static const std::array<QByteArray, 5> names = [] {
        std::array<QByteArray, 5> out;
        for (const MessageType t :
             {MessageType::Advertise, MessageType::ImHere, MessageType::ImGone,
              MessageType::License, MessageType::Message})
            out[size_t(t)] = LogRecord::bytes(messageTypeName(t));
        return out;
    }();
    return names;
}

template <typename Number, size_t N> QByteArrayView number(char (&buffer)[N], Number value)
{
    const auto result = std::to_chars(buffer, buffer + N, value);
    return QByteArrayView(buffer, result.ptr - buffer);
}

} // namespace

LogRows::LogRows(const PacketStore& store, char* scratch)
    : m_store(store), m_second(std::numeric_limits<qint64>::min()), m_scratch(scratch)
{}

LogRows::~LogRows() = default;

QByteArrayView LogRows::dateText(qint64 timeUs)
{
    // Packets come in bursts within the same second: the text is made once per second.
    const qint64 second = floorSecond(timeUs);
    if (second != m_second) {
        m_second = second;
        m_date = LogRecord::bytes(m_dateText.text(timeUs));
    }
    return m_date;
}

QByteArrayView LogRows::decoded(qsizetype row, MessageType* type)
{
    if (m_store.damaged(row)) {
        *type = MessageType::Message;
        return PacketStore::DamagedText;
    }
    return DecodePacketMessage(m_store.bytes(row), type, m_scratch);
}

void LogRows::load(qsizetype row)
{
    MessageType type;
    const QByteArrayView data = decoded(row, &type);
    // Rows and numbers start together after every clear, so row k carries number k + 1.
    m_fields[0] = number(m_number, row + 1);
    m_fields[1] = dateText(m_store.timeUs(row));
    m_fields[2] = number(m_size, m_store.size(row));
    m_fields[3] = typeNames()[size_t(type)];
    m_fields[4] = data;
}
