#pragma once

#include <QByteArray>
#include <QString>

// The whole content of a file, or "<unreadable>" when it cannot be opened.
QByteArray readAll(const QString& fileName);

// Creates or overwrites a file; false when it cannot be written whole.
bool writeFile(const QString& fileName, const QByteArray& content);

class PacketListModel;
// Every row of the list written as a capture log at once, as Save Log writes it; the log
// writer's answer.
QString writeLog(const PacketListModel& model, const QString& fileName);
