#pragma once

#include "backgroundjob.h"

#include <QString>

class Dialogs;
class PacketListModel;

// File > Open Capture and a file named on the command line: the list is replaced by the
// packets of a capture file that the filter takes, numbered from 1, as a live capture of them
// would list them. The file is read on a thread of its own and its packets reach the list in
// batches while the window paints, with progress and Cancel for a long file; a damaged file
// keeps every packet before the damage and says where it was.
class CaptureFileOpen
{
public:
    CaptureFileOpen(PacketListModel& model, Dialogs& dialogs);

    // The file the user chooses; empty when cancelled.
    QString askFileName();
    // Empties the list and reads fileName into it, keeping what filter takes; returns once the
    // file is read, has failed or was cancelled, after any message.
    void open(const QString& fileName, const QString& filter);
    bool isReading() const { return m_job.isRunning(); }
    void setProgressDelay(int ms) { m_job.setProgressDelay(ms); }

private:
    QString storeFullText(const QString& fileName) const;

    PacketListModel& m_model;
    Dialogs& m_dialogs;
    BackgroundJob m_job;
};
