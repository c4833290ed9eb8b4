#include "clearlist.h"

#include "dialogs.h"
#include "logexport.h"
#include "packetlistmodel.h"
#include "unsavedflag.h"

ClearList::ClearList(PacketListModel& model, Dialogs& dialogs, UnsavedFlag& unsaved,
                     LogExport& exporter)
    : m_model(model), m_dialogs(dialogs), m_unsaved(unsaved), m_exporter(exporter)
{}

void ClearList::clearlist_Click()
{
    // The log being written reads the stored packets: they stay until it is done.
    if (m_model.rowCount() == 0 || m_exporter.isSaving())
        return;
    if (m_dialogs.messageBox(QStringLiteral("Are you sure?"), Dialogs::Buttons::YesNo,
                             Dialogs::Icon::None,
                             QStringLiteral("Clear List")) != Dialogs::Answer::Yes)
        return;
    // The user may decline the log, or it may fail; the list is cleared all the same. The flag
    // stays as the export left it: rows that no log holds remain unsaved.
    if (m_unsaved.isSet())
        m_exporter.savelog_Click();
    m_model.clear();
}
