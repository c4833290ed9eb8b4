#pragma once

#include "capturestate.h"

#include <QString>

class MainWindow;
class QAbstractItemView;
class QAction;
class QHeaderView;

// Reads the main window the way a person sees it: panels, controls and the state of the
// start/stop controls, found by their names.
class WindowProbe
{
public:
    explicit WindowProbe(MainWindow& window) : m_window(window) {}

    QString panel(int number) const; // 1 to 4; empty while a panel is not shown
    QAction* action(const char* name) const;
    CaptureState state() const; // from the enabled flags, as the user sees them
    bool unsaved() const;
    QString port() const;
    void setPort(const QString& text) const;
    void chooseInCombo(int index) const;
    void chooseInList(int index) const; // a click on the entry
    QStringList comboEntries() const;
    QStringList listEntries() const;
    // The packet list and its column headers.
    QAbstractItemView* packetList() const;
    QHeaderView* packetColumns() const;

private:
    MainWindow& m_window;
};
