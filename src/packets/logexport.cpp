#include "logexport.h"

#include "capturelog.h"
#include "dialogs.h"
#include "packetlistmodel.h"
#include "pcaprows.h"
#include "unsavedflag.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <new>
#include <unistd.h>

namespace {

QString progressText(qsizetype done, qsizetype rows)
{
    return QStringLiteral("%1 of %2 rows written").arg(done).arg(rows);
}

bool mayCreateFilesIn(const QString& directory)
{
    return ::access(QFile::encodeName(directory).constData(), W_OK | X_OK) == 0;
}

} // namespace

struct LogExport::Request
{
    QString title;      // of the progress
    QString prompt;     // of the input box
    QString inputTitle; // of the input box
    QString defaultName;
};

LogExport::LogExport(PacketListModel& model, Dialogs& dialogs, UnsavedFlag& unsaved)
    : m_model(model), m_dialogs(dialogs), m_unsaved(unsaved),
      m_clock([] { return QDateTime::currentDateTime(); }), m_job(dialogs),
      m_buffer(std::make_unique_for_overwrite<char[]>(size_t(CaptureLog::BufferBytes)))
{}

LogExport::~LogExport() = default;

QString LogExport::directory() const
{
    return m_directory.isNull() ? proposedDirectory(QCoreApplication::applicationDirPath())
                                : m_directory;
}

QString LogExport::proposedDirectory(const QString& executableDirectory)
{
    // Installed, the executable lies in a system folder where no user may write.
    if (mayCreateFilesIn(executableDirectory))
        return executableDirectory;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void LogExport::savelog_Click()
{
    if (isSaving() || m_model.rowCount() == 0)
        return;
    const Request request{
        QStringLiteral("Save Log"), QStringLiteral("Enter File Name:\r\n(include .csv)"),
        QStringLiteral("Save log as ..."), CaptureLog::defaultFileName(directory(), now())};
    const qsizetype rows = saveAs(request, [this](qsizetype rows) {
        return std::make_unique<CaptureLog>(m_model.store(), rows, m_buffer.get());
    });
    // Rows that arrived while the log was written stay unsaved.
    if (rows >= 0 && m_model.rowCount() == rows)
        m_unsaved.set(false);
}

void LogExport::savecapture_Click()
{
    if (isSaving() || m_model.rowCount() == 0)
        return;
    const auto& runs = m_model.linkTypes();
    if (runs.size() > 1) {
        QStringList types;
        for (const PacketListModel::LinkRun& run : runs) {
            if (!types.contains(QString::number(run.linkType)))
                types.append(QString::number(run.linkType));
        }
        m_dialogs.messageBox(
            QStringLiteral("The list holds packets of more than one link type (%1), and a pcap "
                           "file holds packets of one. Save Log writes them all; Clear List "
                           "before the next capture or file keeps the list to one.")
                .arg(types.join(QStringLiteral(", "))),
            Dialogs::Buttons::Ok, Dialogs::Icon::None, QStringLiteral("Save Capture"));
        return;
    }
    const int linkType = runs.front().linkType;
    const Request request{
        QStringLiteral("Save Capture"), QStringLiteral("Enter File Name:\r\n(include .pcap)"),
        QStringLiteral("Save capture as ..."), defaultCaptureName(directory(), now())};
    saveAs(request, [this, linkType](qsizetype rows) {
        return std::make_unique<PcapFile>(m_model.store(), linkType, rows, m_buffer.get());
    });
}

QString LogExport::defaultCaptureName(const QString& directory, const QDateTime& now)
{
    return directory + QStringLiteral("/KintoCapture") +
           now.toString(QStringLiteral("yyMMddHHmm")) + QStringLiteral(".pcap");
}

// Asks for a name and writes the file there. A failure is said and the name asked for again,
// proposing the one that failed, so that a clear, port change or close that follows loses the
// rows only if the user cancels. Returns the rows written, -1 when none were.
template <typename MakeFile> qsizetype LogExport::saveAs(const Request& request, MakeFile makeFile)
{
    QString fileName = request.defaultName;
    for (;;) {
        fileName = m_dialogs.inputBox(request.prompt, request.inputTitle, fileName);
        if (fileName.isEmpty())
            return -1;
        // The rows there are now; those that arrive while they are written are not in the file.
        const qsizetype rows = m_model.rowCount();
        QString error;
        Outcome outcome = Outcome::Failed;
        try {
            const auto file = makeFile(rows);
            outcome = write(*file, fileName, request.title, rows, &error);
        } catch (const std::bad_alloc&) {
            error = qt_error_string(ENOMEM);
        }
        if (outcome == Outcome::Written)
            return rows;
        if (outcome == Outcome::Canceled)
            return -1;
        m_dialogs.messageBox(error);
    }
}

LogExport::Outcome LogExport::write(ListFile& file, const QString& fileName, const QString& title,
                                    qsizetype rows, QString* error)
{
    BackgroundJob::Work work;
    work.title = title;
    work.run = [&] { *error = file.write(fileName); };
    work.status = [&] {
        return BackgroundJob::Status{file.rowsWritten(), rows,
                                     progressText(file.rowsWritten(), rows)};
    };
    work.cancel = [&] { file.cancel(); };
    m_job.run(work);
    if (file.wasCanceled())
        return Outcome::Canceled;
    return error->isEmpty() ? Outcome::Written : Outcome::Failed;
}
