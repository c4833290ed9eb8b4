#pragma once

#include <QString>

#include <functional>

class Dialogs;

// Long work over the list (writing a file, reading one) on a thread of its own while the window
// goes on painting and taking packets. Until the progress shows, user input waits; then the
// progress, modal, takes it, and its Cancel asks the work to stop.
class BackgroundJob
{
public:
    struct Status
    {
        qint64 done = 0;
        qint64 total = 0;
        QString text;
    };
    struct Work
    {
        QString title;                  // of the progress
        std::function<void()> run;      // on the thread; returns when done or cancelled
        std::function<Status()> status; // how far it got; asked on the calling thread
        std::function<void()> cancel;   // may be called from the calling thread at any time
        std::function<void()> tick;     // optional, on the calling thread every TickMs
    };
    static constexpr int TickMs = 40;

    explicit BackgroundJob(Dialogs& dialogs) : m_dialogs(dialogs) {}

    // Returns once work.run has returned. Without a thread to be had, the window waits for it
    // instead. The program ending meanwhile (its event loops told to quit) cancels the work.
    void run(const Work& work);
    bool isRunning() const { return m_running; }
    // How long the work runs before its progress is shown.
    void setProgressDelay(int ms) { m_progressDelayMs = ms; }

private:
    bool runOnThread(const Work& work);

    Dialogs& m_dialogs;
    int m_progressDelayMs = 500;
    bool m_running = false;
};
