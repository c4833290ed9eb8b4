#include "backgroundjob.h"

#include "dialogs.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <memory>
#include <new>

namespace {

// The work needs little stack; a small one is more likely to be had when memory is short.
constexpr uint StackBytes = 1u << 20;

} // namespace

void BackgroundJob::run(const Work& work)
{
    m_running = true;
    m_dialogs.setBusy(true);
    if (!runOnThread(work))
        work.run();
    m_dialogs.setBusy(false);
    m_running = false;
}

// Starts the thread and runs the event loop until it has finished; false when no thread could
// be had, nothing of the work done.
bool BackgroundJob::runOnThread(const Work& work)
{
    std::unique_ptr<QThread> thread;
    try {
        thread.reset(QThread::create(work.run));
        thread->setStackSize(StackBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    std::unique_ptr<Dialogs::Progress> progress;
    bool asked = false;
    bool switching = false; // the loop ends to take user input from now on
    QElapsedTimer clock;
    clock.start();
    const auto look = [&] {
        if (work.tick)
            work.tick();
        if (!asked && clock.elapsed() >= m_progressDelayMs) {
            asked = true;
            const Status s = work.status();
            progress = m_dialogs.showProgress(work.title, s.text, s.total);
            switching = true;
            loop.quit();
        }
        if (progress) {
            const Status s = work.status();
            progress->setValue(s.done, s.text);
            if (progress->wasCanceled())
                work.cancel();
        }
    };
    look();
    thread->start();
    if (!thread->isRunning() && !thread->isFinished())
        return false;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, look);
    tick.start(TickMs);
    while (!thread->isFinished()) {
        switching = false;
        loop.exec(progress ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        if (!thread->isFinished() && !switching) {
            work.cancel();
            break;
        }
    }
    thread->wait();
    return true;
}
