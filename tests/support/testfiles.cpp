#include "testfiles.h"

#include "capturelog.h"
#include "packetlistmodel.h"

#include <memory>

#include <QFile>

QByteArray readAll(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& fileName, const QByteArray& content)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QString writeLog(const PacketListModel& model, const QString& fileName)
{
    const auto buffer = std::make_unique_for_overwrite<char[]>(size_t(CaptureLog::BufferBytes));
    return CaptureLog(model.store(), model.rowCount(), buffer.get()).write(fileName);
}
