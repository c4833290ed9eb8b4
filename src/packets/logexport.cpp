#include "logexport.h"

#include "capturelog.h"
#include "dialogs.h"
#include "packetlistmodel.h"
#include "unsavedflag.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <new>
#include <unistd.h>

namespace {

const QString Title = QStringLiteral("Save Log");
constexpr int ProgressIntervalMs = 100;
// The writing thread needs little stack; a small one is more likely to be had when memory is
// short.
constexpr uint WriterStackBytes = 1u << 20;

QString progressText(qsizetype done, qsizetype rows)
{
    return QStringLiteral("%1 of %2 rows written").arg(done).arg(rows);
}

bool mayCreateFilesIn(const QString& directory)
{
    return ::access(QFile::encodeName(directory).constData(), W_OK | X_OK) == 0;
}

} // namespace

LogExport::LogExport(PacketListModel& model, Dialogs& dialogs, UnsavedFlag& unsaved)
    : m_model(model), m_dialogs(dialogs), m_unsaved(unsaved),
      m_clock([] { return QDateTime::currentDateTime(); }),
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
    if (m_saving || m_model.rowCount() == 0)
        return;
    QString fileName = CaptureLog::defaultFileName(directory(), now());
    for (;;) {
        fileName = m_dialogs.inputBox(QStringLiteral("Enter File Name:\r\n(include .csv)"),
                                      QStringLiteral("Save log as ..."), fileName);
        if (fileName.isEmpty())
            return;

        // The rows there are now; those that arrive while they are written stay unsaved.
        const qsizetype rows = m_model.rowCount();
        QString error;
        switch (write(fileName, rows, &error)) {
        case Outcome::Written:
            if (m_model.rowCount() == rows)
                m_unsaved.set(false);
            return;
        case Outcome::Canceled:
            return;
        case Outcome::Failed:
            break;
        }
        // The rows are not saved: say why and ask again, proposing the name that failed, so
        // that a clear, port change or close that follows loses them only if the user cancels.
        m_dialogs.messageBox(error);
    }
}

LogExport::Outcome LogExport::write(const QString& fileName, qsizetype rows, QString* error)
{
    CaptureLog log(m_model.store(), rows, m_buffer.get());
    m_saving = true;
    m_dialogs.setBusy(true);
    std::unique_ptr<QThread> thread;
    try {
        thread.reset(QThread::create([&] { *error = log.write(fileName); }));
        thread->setStackSize(WriterStackBytes);
    } catch (const std::bad_alloc&) {
        thread.reset();
    }
    if (thread)
        wait(log, rows, *thread);
    if (!thread || !thread->isFinished()) // no thread could be had: the window waits instead
        *error = log.write(fileName);
    m_dialogs.setBusy(false);
    m_saving = false;
    if (log.wasCanceled())
        return Outcome::Canceled;
    return error->isEmpty() ? Outcome::Written : Outcome::Failed;
}

// Starts the thread and runs the event loop until it has finished. Until the progress shows,
// user input waits; then the progress, modal, takes it. The program ending meanwhile (its
// event loops told to quit) cancels the log.
void LogExport::wait(CaptureLog& log, qsizetype rows, QThread& thread)
{
    QEventLoop loop;
    QObject::connect(&thread, &QThread::finished, &loop, &QEventLoop::quit);
    std::unique_ptr<Dialogs::Progress> progress;
    bool asked = false;
    bool switching = false; // the loop ends to take user input from now on
    QElapsedTimer clock;
    clock.start();
    const auto look = [&] {
        if (!asked && clock.elapsed() >= m_progressDelayMs) {
            asked = true;
            progress = m_dialogs.showProgress(Title, progressText(log.rowsWritten(), rows), rows);
            switching = true;
            loop.quit();
        }
        if (progress) {
            progress->setValue(log.rowsWritten(), progressText(log.rowsWritten(), rows));
            if (progress->wasCanceled())
                log.cancel();
        }
    };
    look();
    thread.start();
    if (!thread.isRunning() && !thread.isFinished())
        return; // the thread could not be started
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, look);
    tick.start(ProgressIntervalMs);
    while (!thread.isFinished()) {
        switching = false;
        loop.exec(progress ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        if (!thread.isFinished() && !switching) {
            log.cancel();
            break;
        }
    }
    thread.wait();
}
