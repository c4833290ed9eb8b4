#pragma once

#include "fakecapture.h"
#include "mainwindow.h"
#include "scripteddialogs.h"
#include "windowprobe.h"

#include <QStringList>

// The main window over a fake capture component and scripted dialogs, as the program builds
// it otherwise. The window owns both; the pointers stay valid as long as the window.
class FakeWindow
{
public:
    // An adapter the window chooses by itself at start-up.
    static inline const QString Scheduler = QStringLiteral("NIC (Microsoft's Packet Scheduler)");

    enum class Load {
        Now,           // Form_Load at once, with no dialog expected
        AnswerAdapter, // Form_Load at once, answering "Select adapter from list" with OK
        Later,         // the test scripts and calls Form_Load itself
    };

    explicit FakeWindow(const QStringList& adapters = {Scheduler}, Load load = Load::Now);

    // Packets the component captures, each "***[Hi]" in a 50-byte frame.
    void arrive(int count);

    FakeCapture* capture;
    ScriptedDialogs* dialogs;
    MainWindow window;
    WindowProbe probe{window};
};
