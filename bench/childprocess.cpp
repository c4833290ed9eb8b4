#include "childprocess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        reap(0);
    }
    closePipes();
}

bool ChildProcess::start(const QString& program, const QStringList& arguments)
{
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return m_error = QString::fromLocal8Bit(std::strerror(errno)), false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return m_error = QString::fromLocal8Bit(std::strerror(errno)), false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    std::vector<QByteArray> texts{program.toLocal8Bit()};
    for (const QString& a : arguments)
        texts.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& t : texts)
        argv.push_back(t.data());
    argv.push_back(nullptr);

    const int status = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
    if (status != 0) {
        m_pid = -1;
        closePipes();
        m_error = program + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(status));
        return false;
    }
    m_ended = false;
    return true;
}

void ChildProcess::read(int timeoutMs)
{
    pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0)
        return;
    char buffer[4096];
    for (pollfd& f : fds) {
        if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP)))
            continue;
        const ssize_t n = ::read(f.fd, buffer, sizeof buffer);
        QByteArray& to = f.fd == m_outFd ? m_out : m_err;
        if (n > 0) {
            to.append(buffer, n);
        } else {
            ::close(f.fd); // end of output
            (f.fd == m_outFd ? m_outFd : m_errFd) = -1;
        }
    }
}

void ChildProcess::signal(int number)
{
    if (m_pid > 0)
        ::kill(m_pid, number);
}

bool ChildProcess::tryWait()
{
    if (m_pid > 0 && reap(WNOHANG))
        wait(); // gather the rest of its output
    return m_pid < 0 && m_ended;
}

void ChildProcess::wait()
{
    while (m_outFd >= 0 || m_errFd >= 0)
        read(1000);
    if (m_pid > 0)
        reap(0);
}

bool ChildProcess::reap(int options)
{
    int status = 0;
    rusage usage{};
    const pid_t done = ::wait4(m_pid, &status, options, &usage);
    if (done != m_pid)
        return false;
    m_pid = -1;
    m_ended = true;
    m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    m_cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return true;
}

void ChildProcess::closePipes()
{
    for (int* fd : {&m_outFd, &m_errFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}
