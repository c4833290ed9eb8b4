#pragma once

#include "storeshortage.h"

#include <QObject>
#include <QString>

class CaptureComponent;
class CaptureView;
class Dialogs;

// Runs capturing for the main window: start-up, Start and Stop, a change of adapter from either
// list, and the closing of the window. The enabled state of the start/stop controls, kept by
// the view, is the only record of whether capture runs.
class CaptureController : public QObject
{
    Q_OBJECT

public:
    CaptureController(CaptureComponent& component, CaptureView& view, Dialogs& dialogs,
                      QObject* parent = nullptr);

    // Without chooseAdapter (a capture file is to be listed instead) start-up ends once the
    // adapter lists are filled: no adapter is chosen and nothing asked.
    void Form_Load(bool chooseAdapter = true);
    // Returns whether capture runs afterwards.
    bool CaptureStart_Click();
    void CaptureStop_Click();
    void combo1_Click(int index);
    void List1_Click(int index);
    void Form_QueryUnload();

    // Stops a running capture, then offers the log when rows are unsaved: what closing the
    // window and a change of port both do before going on.
    void stopAndOfferLog();

    // The list could not keep every packet of a delivery: capture stops and the user learns
    // what ran out (for a full disk, where the list is held) and how many packets the list holds.
    void storeFull(StoreShortage shortage, const QString& folder, qsizetype packets);

    // Makes adapter index (0-based) current and sets its filter from the port text.
    void setAdapterAndFilter(int index);
    // Sets the current adapter's filter from the port text.
    void applyFilter();

    static constexpr int List1WindowHeightTwips = 7335;
    // The longest the window waits for a stopped capture's last rows before it offers the log:
    // a helper ends by itself within half a second of the stop and is killed after a second.
    static constexpr int StoppedWaitMs = 1500;

private:
    void onCaptureFailed(const QString& reason);
    void reportFailure(const QString& reason);
    void showStopped();
    QString portPanelText() const;

    CaptureComponent& m_component;
    CaptureView& m_view;
    Dialogs& m_dialogs;
};
