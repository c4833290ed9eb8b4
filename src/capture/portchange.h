#pragma once

#include <QString>

class CaptureController;
class CaptureView;
class Dialogs;

// Capture > Change UDP Port: asks for the port, checks its numeric reading, then sets the
// filter again and (re)starts capture. Rows and numbering stay as they are.
class PortChange
{
public:
    PortChange(CaptureView& view, CaptureController& controller, Dialogs& dialogs);

    void changeport_Click();

    // Leading spaces, an optional sign, digits and an optional fraction; anything else ends the
    // number, and a text with no number reads 0 ("12abc" -> 12, "abc" -> 0).
    static double numericValue(const QString& text);
    static constexpr double LowestPort = 1;
    static constexpr double HighestPort = 255000;

private:
    CaptureView& m_view;
    CaptureController& m_controller;
    Dialogs& m_dialogs;
};
