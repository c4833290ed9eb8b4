#pragma once

#include "backgroundjob.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>

class Dialogs;
class ListFile;
class PacketListModel;
class UnsavedFlag;

// File > Save Log and File > Save Capture: each asks for a file name, proposing one beside the
// program, and writes the list there, as a CSV capture log or as a pcap capture file. Clear
// List, the port change, opening a file and closing the window run Save Log too when rows are
// unsaved, and go on once it has returned; only a completed log clears the unsaved flag.
//
// Both write the same way: on a thread of their own while the window goes on painting and
// taking packets, through a temporary file that replaces an older one only when complete; the
// call returns when the file is written, has failed or was cancelled. The file holds the rows
// there were when it began.
class LogExport
{
public:
    LogExport(PacketListModel& model, Dialogs& dialogs, UnsavedFlag& unsaved);
    ~LogExport();

    void savelog_Click();
    void savecapture_Click();
    bool isSaving() const { return m_job.isRunning(); }

    // Where the proposed name lies: proposedDirectory() of the executable's, unless set.
    QString directory() const;
    void setDirectory(const QString& directory) { m_directory = directory; }
    // The executable's directory where the user may create files in it (the build tree),
    // otherwise the user's documents folder, or the home folder where there is none.
    static QString proposedDirectory(const QString& executableDirectory);
    QDateTime now() const { return m_clock(); }
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    // How long a save runs before its progress is shown.
    void setProgressDelay(int ms) { m_job.setProgressDelay(ms); }

    // The name proposed for a new capture file: the directory as given, then "/KintoCapture",
    // the date as yyMMdd, the 24-hour time as HHmm and ".pcap".
    static QString defaultCaptureName(const QString& directory, const QDateTime& now);

private:
    struct Request;
    enum class Outcome { Written, Failed, Canceled };
    template <typename MakeFile> qsizetype saveAs(const Request& request, MakeFile makeFile);
    Outcome write(ListFile& file, const QString& fileName, const QString& title, qsizetype rows,
                  QString* error);

    PacketListModel& m_model;
    Dialogs& m_dialogs;
    UnsavedFlag& m_unsaved;
    QString m_directory;
    std::function<QDateTime()> m_clock;
    BackgroundJob m_job;
    // Allocated once, so that the rows can still be saved when memory has run out.
    std::unique_ptr<char[]> m_buffer;
};
