#include "stalledreader.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

StalledReader::StalledReader(const QString& fifo)
    : m_fd(::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
{
    if (m_fd >= 0)
        m_thread = std::thread([fd = m_fd] {
            pollfd hangUp{fd, 0, 0}; // reports only the writer's leaving
            ::poll(&hangUp, 1, 20000);
            ::close(fd);
        });
}

StalledReader::~StalledReader()
{
    if (m_thread.joinable())
        m_thread.join();
}
