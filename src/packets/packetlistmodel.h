#pragma once

#include "datetimetext.h"
#include "packetstore.h"
#include "payloaddecoder.h"

#include <QAbstractTableModel>

#include <array>

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

    // A packet arrives: it gets the next number and becomes the last row.
    void OnPacket(const Packet& packet);
    // Packets that arrived together become rows with one insertion.
    void OnPackets(const PacketBatch& batch);
    // Empties rows and store and restarts the numbering, with one reset.
    void clear();
    void resetCounter();

    qint64 counter() const { return m_counter; }
    const PacketStore& store() const { return m_store; }
    QString text(int row, int column) const;

signals:
    // Emitted once per arrival of one or more packets, after the rows were inserted.
    void packetsArrived();

private:
    struct Decoded
    {
        qsizetype row = -1;
        MessageType type = MessageType::Message;
        QString data;
    };
    const Decoded& decoded(int row) const;

    PacketStore m_store;
    qint64 m_counter = 0;
    DateTimeText m_dateText;
    // The view asks for the same few rows again and again while it paints.
    mutable std::array<Decoded, 128> m_cache;
};
