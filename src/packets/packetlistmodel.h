#pragma once

#include "datetimetext.h"
#include "packetstore.h"
#include "payloaddecoder.h"

#include <QAbstractTableModel>

#include <array>
#include <memory>
#include <vector>

class PacketBatch;

// The rows of the packet list. Row k is store entry k; the texts of a row are derived from the
// stored bytes when the view or the log asks for them, so a row costs no memory of its own.
class PacketListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { No, Date, Size, Type, Data, ColumnCount };

    explicit PacketListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static QString columnTitle(int column);
    static int columnWidthTwips(int column);

    // Packets that arrived together become rows with one insertion, numbered on from the last
    // row. When memory is full only those that fit become rows, and storeFull() says so.
    void OnPackets(const PacketBatch& batch);
    // count more packets were lost on their way to the list.
    void OnDropped(quint64 count);
    // Packets lost since the list was last cleared: with the rows, every packet captured.
    quint64 dropped() const { return m_dropped; }
    // Empties rows and store, restarts the numbering and the count of lost packets, and gives
    // the memory back, with one reset.
    void clear();

    const PacketStore& store() const { return m_store; }

    // The link types of the rows (how a frame begins: Ethernet, Linux cooked...), as runs of
    // rows in order; a capture file holds one, a live capture one per adapter.
    struct LinkRun
    {
        qsizetype firstRow;
        int linkType;
    };
    const std::vector<LinkRun>& linkTypes() const { return m_linkTypes; }
    QString text(int row, int column) const;

signals:
    // Emitted once per arrival of one or more packets, after the rows were inserted.
    void packetsArrived();
    // Emitted for every arrival of which the store could not keep all packets.
    void storeFull();
    void droppedChanged(quint64 dropped);

private:
    struct Decoded
    {
        qsizetype row = -1;
        MessageType type = MessageType::Message;
        QString data;
    };
    const Decoded& decoded(int row) const;

    PacketStore m_store;
    // The store counts its entries before the rows are announced; the rows follow it.
    int m_rows = 0;
    std::vector<LinkRun> m_linkTypes;
    quint64 m_dropped = 0;
    DateTimeText m_dateText;
    // The view asks for the same few rows again and again while it paints.
    mutable std::array<Decoded, 128> m_cache;
    // The decoder's room for any packet, so that no row allocates for it.
    const std::unique_ptr<char[]> m_scratch;
};
