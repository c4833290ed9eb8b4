#include "capturecontroller.h"

#include "adapterentries.h"
#include "capturecomponent.h"
#include "captureview.h"
#include "dialogs.h"

#include <QDebug>

namespace {
const QString AutomaticAdapter = QStringLiteral("microsoft's packet schedule");
}

CaptureController::CaptureController(CaptureComponent& component, CaptureView& view,
                                     Dialogs& dialogs, QObject* parent)
    : QObject(parent), m_component(component), m_view(view), m_dialogs(dialogs)
{
    connect(&m_component, &CaptureComponent::captureFailed, this,
            &CaptureController::onCaptureFailed);
}

QString CaptureController::portPanelText() const
{
    return QStringLiteral("Port: ") + m_view.portText();
}

void CaptureController::Form_Load(bool chooseAdapter)
{
    m_view.addListColumns();
    m_view.clearAdapterLists();
    const QList<CaptureAdapter> adapters = m_component.adapters();
    for (int i = 1; i <= adapters.size(); ++i) {
        const QString& description = adapters[i - 1].description;
        m_view.addAdapterEntries(AdapterEntries::list1Entry(i, description),
                                 AdapterEntries::comboEntry(i, description));
    }
    m_view.setPortPanel(portPanelText());
    m_view.setStatusPanel(QStringLiteral("Status: Stopped"));
    m_view.showWindow();
    m_component.startup();
    m_view.setCaptureState(CaptureState::NoAdapter);
    // An empty list would otherwise look like a machine without adapters.
    if (!m_component.adapterError().isEmpty())
        m_dialogs.messageBox(m_component.adapterError());
    if (!chooseAdapter)
        return;

    int chosen = -1;
    for (int k = 0; k < m_view.comboEntryCount() && chosen < 0; ++k) {
        if (m_view.comboEntry(k).toLower().contains(AutomaticAdapter, Qt::CaseInsensitive))
            chosen = k;
    }
    if (chosen < 0) {
        m_dialogs.messageBox(QStringLiteral("Select adapter from list"));
        return;
    }
    m_view.setComboText(m_view.comboEntry(chosen));
    setAdapterAndFilter(chosen);
    m_view.setCaptureState(CaptureState::Ready);
    CaptureStart_Click();
}

bool CaptureController::CaptureStart_Click()
{
    m_view.setBusy(true);
    const QString error = m_component.start();
    m_view.setBusy(false);
    if (!error.isEmpty()) {
        // Shown only after the window tells the truth: nothing is captured.
        showStopped();
        reportFailure(error);
        return false;
    }
    m_view.setCaptureState(CaptureState::Running);
    m_view.setPortPanel(portPanelText());
    m_view.setStatusPanel(QStringLiteral("Status: Running"));
    return true;
}

void CaptureController::CaptureStop_Click()
{
    m_component.stop();
    showStopped();
}

void CaptureController::showStopped()
{
    m_view.setCaptureState(CaptureState::Ready);
    m_view.setPortPanel(portPanelText());
    m_view.setStatusPanel(QStringLiteral("Status: Stopped"));
}

void CaptureController::combo1_Click(int index)
{
    if (m_view.isRunning()) {
        m_component.stop();
        // The panel would otherwise go on saying "Running" for a capture that has stopped.
        m_view.setStatusPanel(QStringLiteral("Status: Stopped"));
    }
    setAdapterAndFilter(index);
    m_view.setCaptureState(CaptureState::Ready);
}

void CaptureController::List1_Click(int index)
{
    setAdapterAndFilter(index);
    m_view.setCaptureState(CaptureState::Ready);
    m_view.setOuterHeightTwips(List1WindowHeightTwips);
    CaptureStart_Click();
}

void CaptureController::Form_QueryUnload()
{
    stopAndOfferLog();
}

void CaptureController::stopAndOfferLog()
{
    if (m_view.isRunning())
        m_component.stop();
    // The rows captured before the stop belong in the log offered now; the window paints
    // meanwhile.
    m_component.waitForStopped(StoppedWaitMs);
    if (m_view.isUnsaved())
        m_view.runLogExport();
}

void CaptureController::setAdapterAndFilter(int index)
{
    m_component.setAdapter(index);
    applyFilter();
}

void CaptureController::applyFilter()
{
    // A filter the component cannot use is reported when capture is started with it.
    m_component.setFilter(QStringLiteral("port ") + m_view.portText());
}

void CaptureController::onCaptureFailed(const QString& reason)
{
    // A capture stopped before may report after the next has started: that one runs on.
    if (!m_component.isCapturing())
        showStopped();
    reportFailure(reason);
}

void CaptureController::storeFull(StoreShortage shortage, const QString& folder, qsizetype packets)
{
    // Deliveries already on their way, and the one stop() makes, find the store full too: only
    // the first, while capture runs, is told.
    if (!m_view.isRunning())
        return;
    m_component.stop(CaptureComponent::StopCause::Window);
    showStopped();
    reportFailure(storeShortageMessage(shortage, folder, packets));
}

void CaptureController::reportFailure(const QString& reason)
{
    // Also on standard error, for whoever started the program from a terminal or a script.
    qWarning().noquote() << reason;
    m_dialogs.messageBox(reason);
}
