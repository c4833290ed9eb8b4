#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

class Dialogs;
class PacketListModel;
class UnsavedFlag;

// File > Save Log: asks for a file name, proposing one in the program's directory, and writes
// the capture log there. Clear List, the port change and closing the window run it too when
// rows are unsaved; only a completed log clears the unsaved flag.
class LogExport
{
public:
    LogExport(PacketListModel& model, Dialogs& dialogs, UnsavedFlag& unsaved);

    void savelog_Click();

    // Where the proposed name lies; the executable's directory unless set.
    QString directory() const;
    void setDirectory(const QString& directory) { m_directory = directory; }
    QDateTime now() const { return m_clock(); }
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

private:
    PacketListModel& m_model;
    Dialogs& m_dialogs;
    UnsavedFlag& m_unsaved;
    QString m_directory;
    std::function<QDateTime()> m_clock;
};
