#pragma once

#include "pcapcapture.h"
#include "windowprobe.h"

#include <QString>

#include <memory>

class MainWindow;
class ScriptedDialogs;

// The main window as the program builds it, with the libpcap capture component, and scripted
// dialogs in place of the standard ones; after start() it captures on a chosen adapter.
class CapturingWindow
{
public:
    // Loads the window; the "Select adapter from list" it asks at start-up is answered. helper:
    // the capture helper the component runs.
    explicit CapturingWindow(const QString& helper = PcapCapture::helperPath());
    ~CapturingWindow();

    // Sets the port, chooses the adapter by its device name in the adapter drop-down and
    // presses Start, as the user does; returns an empty text on success, else what went wrong.
    QString start(const QString& adapter, const QString& port);

    MainWindow& window() const { return *m_window; }
    ScriptedDialogs& dialogs() const { return *m_dialogs; }
    const WindowProbe& probe() const { return *m_probe; }

private:
    ScriptedDialogs* m_dialogs;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<WindowProbe> m_probe;
};
