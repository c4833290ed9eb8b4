#pragma once

class Dialogs;
class LogExport;
class PacketListModel;
class UnsavedFlag;

// Capture > Clear List: empties the list after a confirmation, offering unsaved rows for the
// log first. Capture goes on meanwhile.
class ClearList
{
public:
    ClearList(PacketListModel& model, Dialogs& dialogs, UnsavedFlag& unsaved, LogExport& exporter);

    void clearlist_Click();

private:
    PacketListModel& m_model;
    Dialogs& m_dialogs;
    UnsavedFlag& m_unsaved;
    LogExport& m_exporter;
};
