#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

class PacketListModel;

// The CSV capture log. Its layout is read by existing tools, so it stays byte for byte as it has
// always been: no header, every field quoted, CR LF between records, one byte per character.
class CaptureLog
{
public:
    static constexpr int FieldCount = 5;

    // The name proposed for a new log: the directory as given, then "/KintoCapturelog", the
    // date as yyMMdd, the 24-hour time as HHmm and ".csv".
    static QString defaultFileName(const QString& directory, const QDateTime& now);

    // One record: the fields quoted and comma-separated, ended by CR LF. Line breaks of the
    // last field become "{New Line}" so that a message stays on one line.
    static void appendRecord(QByteArray& out, const QString (&fields)[FieldCount]);

    // Writes every row of the list. Returns an empty text on success, otherwise a text for the
    // user that names the file and gives the system's reason. An older file of the same name is
    // replaced only by a complete new one.
    static QString write(const PacketListModel& model, const QString& fileName);
};
