#pragma once

#include <QString>

#include <memory>

class MainWindow;
class ScriptedDialogs;

// The main window as the program builds it, with the libpcap capture component, and scripted
// dialogs in place of the standard ones; after start() it captures on a chosen adapter.
class CapturingWindow
{
public:
    // Loads the window; the "Select adapter from list" it asks at start-up is answered.
    CapturingWindow();
    ~CapturingWindow();

    // Chooses the adapter by its device name in the adapter drop-down, sets the port text and
    // starts capture; returns an empty text on success, else what went wrong.
    QString start(const QString& adapter, const QString& port);

    MainWindow& window() const { return *m_window; }
    ScriptedDialogs& dialogs() const { return *m_dialogs; }
    // The text of status panel 1 to 3.
    QString panel(int number) const;

private:
    ScriptedDialogs* m_dialogs;
    std::unique_ptr<MainWindow> m_window;
};
