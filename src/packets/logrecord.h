#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

// One record of the CSV capture log. Its layout is read by existing tools, so it stays byte for
// byte as it has always been: no header, every field quoted, CR LF at the end, one byte per
// character. This is the only place that knows it; the log is written straight from bytes.
class LogRecord
{
public:
    static constexpr int FieldCount = 5;
    using Fields = QByteArrayView[FieldCount];

    // The most bytes write() takes for these fields.
    static qsizetype room(const Fields& fields);
    // The fields quoted and comma-separated, ended by CR LF; every CR LF pair of the last field
    // becomes "{New Line}" so that a message stays on one line. Returns the end of the record.
    static char* write(char* out, const Fields& fields);

    // A text as the log holds it: codes up to 255 keep their value, so decoded packet bytes go
    // back out unchanged; any other character has no byte and becomes '?'.
    static QByteArray bytes(QStringView text);
};
