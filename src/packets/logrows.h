#pragma once

#include "datetimetext.h"
#include "logrecord.h"
#include "payloaddecoder.h"
#include "rowformat.h"

#include <QByteArray>

class PacketStore;

// The records of a store's rows, as the list shows them: number, date, size, type and data.
// Made straight from the stored bytes without a text object per field, so that a log of
// millions of rows is written at the speed of the disk. Reads the store only through its
// const accessors, so it may run on a thread of its own while the list grows.
class LogRows : public RowFormat
{
public:
    // Room for the decoded text of any packet the store holds.
    static constexpr qsizetype ScratchBytes = DecodedRoomForAnyPacket;

    // scratch holds ScratchBytes.
    LogRows(const PacketStore& store, char* scratch);
    ~LogRows() override;

    // Makes the fields of row i's record; then room() is the most bytes write() takes.
    void load(qsizetype row) override;
    qsizetype room() const override { return LogRecord::room(m_fields); }
    char* write(char* out) const override { return LogRecord::write(out, m_fields); }

private:
    QByteArrayView dateText(qint64 timeUs);
    QByteArrayView decoded(qsizetype row, MessageType* type);

    static constexpr int NumberRoom = 24;

    const PacketStore& m_store;
    LogRecord::Fields m_fields;
    char m_number[NumberRoom];
    char m_size[NumberRoom];
    DateTimeText m_dateText;
    qint64 m_second;
    QByteArray m_date;
    char* const m_scratch;
};
