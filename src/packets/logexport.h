#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>

class CaptureLog;
class Dialogs;
class PacketListModel;
class QThread;
class UnsavedFlag;

// File > Save Log: asks for a file name, proposing one beside the program, and writes the
// capture log there. Clear List, the port change and closing the window run it too when rows
// are unsaved, and go on once it has returned; only a completed log clears the unsaved flag.
//
// The rows are written on a thread of their own while the window goes on painting and taking
// packets; the call returns when the log is written, has failed or was cancelled. The log holds
// the rows there were when it began.
class LogExport
{
public:
    LogExport(PacketListModel& model, Dialogs& dialogs, UnsavedFlag& unsaved);
    ~LogExport();

    void savelog_Click();
    bool isSaving() const { return m_saving; }

    // Where the proposed name lies: proposedDirectory() of the executable's, unless set.
    QString directory() const;
    void setDirectory(const QString& directory) { m_directory = directory; }
    // The executable's directory where the user may create files in it (the build tree),
    // otherwise the user's documents folder, or the home folder where there is none.
    static QString proposedDirectory(const QString& executableDirectory);
    QDateTime now() const { return m_clock(); }
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    // How long a save runs before its progress is shown.
    void setProgressDelay(int ms) { m_progressDelayMs = ms; }

private:
    enum class Outcome { Written, Failed, Canceled };
    Outcome write(const QString& fileName, qsizetype rows, QString* error);
    void wait(CaptureLog& log, qsizetype rows, QThread& thread);

    PacketListModel& m_model;
    Dialogs& m_dialogs;
    UnsavedFlag& m_unsaved;
    QString m_directory;
    std::function<QDateTime()> m_clock;
    int m_progressDelayMs = 500;
    bool m_saving = false;
    // Allocated once, so that the rows can still be saved when memory has run out.
    std::unique_ptr<char[]> m_buffer;
};
