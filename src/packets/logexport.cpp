#include "logexport.h"

#include "capturelog.h"
#include "dialogs.h"
#include "packetlistmodel.h"
#include "unsavedflag.h"

#include <QCoreApplication>

LogExport::LogExport(PacketListModel& model, Dialogs& dialogs, UnsavedFlag& unsaved)
    : m_model(model), m_dialogs(dialogs), m_unsaved(unsaved),
      m_clock([] { return QDateTime::currentDateTime(); })
{}

QString LogExport::directory() const
{
    return m_directory.isNull() ? QCoreApplication::applicationDirPath() : m_directory;
}

void LogExport::savelog_Click()
{
    if (m_model.rowCount() == 0)
        return;
    QString fileName = CaptureLog::defaultFileName(directory(), now());
    for (;;) {
        fileName = m_dialogs.inputBox(QStringLiteral("Enter File Name:\r\n(include .csv)"),
                                      QStringLiteral("Save log as ..."), fileName);
        if (fileName.isEmpty())
            return;

        m_dialogs.setBusy(true);
        const QString error = CaptureLog::write(m_model, fileName);
        m_dialogs.setBusy(false);
        if (error.isEmpty())
            break;
        // The rows are not saved: say why and ask again, proposing the name that failed, so
        // that a clear, port change or close that follows loses them only if the user cancels.
        m_dialogs.messageBox(error);
    }
    m_unsaved.set(false);
}
