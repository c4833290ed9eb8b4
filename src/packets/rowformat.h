#pragma once

#include <QtGlobal>

// What one kind of file makes of the list's rows: an optional header, then one record per row.
// ListFile writes any of them with the same care; only the bytes differ.
class RowFormat
{
public:
    virtual ~RowFormat() = default;

    // The bytes before the first record; none unless the format has a header.
    virtual qsizetype headerRoom() const { return 0; }
    virtual char* writeHeader(char* out) const { return out; }
    // Makes row's record; then room() is the most bytes write() takes.
    virtual void load(qsizetype row) = 0;
    virtual qsizetype room() const = 0;
    virtual char* write(char* out) const = 0;
};
