#pragma once

#include "capturestate.h"

#include <QString>

// What the capture controller needs of the main window: the adapter lists, the status panels,
// the start/stop controls, the port text, the unsaved flag and the log export.
class CaptureView
{
public:
    virtual ~CaptureView() = default;

    virtual void addListColumns() = 0;
    virtual void clearAdapterLists() = 0;
    virtual void addAdapterEntries(const QString& list1Entry, const QString& comboEntry) = 0;
    virtual int comboEntryCount() const = 0;
    virtual QString comboEntry(int index) const = 0;
    virtual void setComboText(const QString& text) = 0;

    virtual void setPortPanel(const QString& text) = 0;
    virtual void setStatusPanel(const QString& text) = 0;
    virtual void setCaptureState(CaptureState state) = 0;
    virtual CaptureState captureState() const = 0;
    bool isRunning() const { return captureState() == CaptureState::Running; }

    virtual QString portText() const = 0;
    virtual void setPortText(const QString& text) = 0;
    virtual bool isUnsaved() const = 0;
    virtual void runLogExport() = 0;

    // The busy cursor while Start waits for capture to begin (the helper may compile a long
    // filter for seconds); false restores the cursor.
    virtual void setBusy(bool busy) = 0;

    virtual void showWindow() = 0;
    virtual void setOuterHeightTwips(int twips) = 0;
};
