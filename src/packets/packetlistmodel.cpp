#include "packetlistmodel.h"

#include <utility>

#include "packetbatch.h"

#include <QLocale>

#ifdef __GLIBC__
#include <malloc.h>
#endif

PacketListModel::PacketListModel(QObject* parent)
    : QAbstractTableModel(parent),
      m_scratch(std::make_unique_for_overwrite<char[]>(size_t(DecodedRoomForAnyPacket)))
{}

int PacketListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int PacketListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString PacketListModel::columnTitle(int column)
{
    static const char* const titles[] = {"No", "Date", "Size", "Type", "Data"};
    return column >= 0 && column < ColumnCount ? QString::fromLatin1(titles[column]) : QString();
}

int PacketListModel::columnWidthTwips(int column)
{
    static const int widths[] = {800, 2500, 800, 1400, 5400};
    return column >= 0 && column < ColumnCount ? widths[column] : 0;
}

QVariant PacketListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return columnTitle(section);
    return {};
}

QVariant PacketListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return text(index.row(), index.column());
    return {};
}

const PacketListModel::Decoded& PacketListModel::decoded(int row) const
{
    Decoded& slot = m_cache[size_t(row) % m_cache.size()];
    if (slot.row != row) {
        // The same bytes as the log's: every character is below 256.
        QByteArrayView data = PacketStore::DamagedText;
        slot.type = MessageType::Message;
        if (!m_store.damaged(row))
            data = DecodePacketMessage(m_store.bytes(row), &slot.type, m_scratch.get());
        slot.row = row;
        slot.data = QString::fromLatin1(data);
    }
    return slot;
}

QString PacketListModel::text(int row, int column) const
{
    switch (column) {
    case No:
        // Rows and numbers start together after every clear, so row k carries number k + 1.
        return QString::number(row + 1);
    case Date:
        return m_dateText.text(m_store.timeUs(row));
    case Size:
        return QString::number(m_store.size(row));
    case Type:
        return messageTypeName(decoded(row).type);
    case Data:
        return decoded(row).data;
    }
    return {};
}

void PacketListModel::OnPackets(const PacketBatch& batch)
{
    if (batch.isEmpty())
        return;
    const qsizetype kept = m_store.append(batch);
    if (kept > 0) {
        if (m_linkTypes.empty() || m_linkTypes.back().linkType != batch.linkType())
            m_linkTypes.push_back({m_rows, batch.linkType()});
        beginInsertRows({}, m_rows, m_rows + int(kept) - 1);
        m_rows += int(kept);
        endInsertRows();
        emit packetsArrived();
    }
    if (kept < batch.count())
        emit storeFull();
}

void PacketListModel::OnDropped(quint64 count)
{
    if (count == 0)
        return;
    m_dropped += count;
    emit droppedChanged(m_dropped);
}

void PacketListModel::clear()
{
    beginResetModel();
    m_store.clear();
    m_rows = 0;
    m_linkTypes.clear();
    if (std::exchange(m_dropped, 0) != 0)
        emit droppedChanged(0);
    for (Decoded& slot : m_cache)
        slot = Decoded{};
    endResetModel();
#ifdef __GLIBC__
    // What the view and the texts freed stays in the heap otherwise.
    malloc_trim(0);
#endif
}
