#pragma once

#include <QString>

#include <thread>

// Holds a FIFO's read end open and reads nothing, like a reader that has stopped. It lets go
// when the writer has given up, or after 20 s, so that a writer that never gives up fails the
// test instead of hanging it.
class StalledReader
{
public:
    explicit StalledReader(const QString& fifo);
    ~StalledReader();
    StalledReader(const StalledReader&) = delete;
    StalledReader& operator=(const StalledReader&) = delete;

    bool isOpen() const { return m_fd >= 0; }

private:
    int m_fd;
    std::thread m_thread;
};
