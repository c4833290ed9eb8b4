#include "childprocess.h"

#include <utility>

#include <QFile>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// How often a wait without a pidfd looks whether the child has ended.
constexpr auto PollInterval = std::chrono::milliseconds(5);

// A pipe whose ends no other child inherits.
bool makePipe(int (&ends)[2])
{
    return ::pipe2(ends, O_CLOEXEC) == 0;
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

ChildProcess::~ChildProcess()
{
    if (m_pid > 0 && wait(0) < 0) {
        kill();
        wait(-1);
    }
    closeAll();
}

void ChildProcess::closeAll()
{
    closeFd(m_input);
    closeFd(m_output);
    closeFd(m_errors);
    closeFd(m_pidfd);
}

int ChildProcess::start(const QString& program, const QStringList& arguments, Options options)
{
    int in[2], out[2], err[2];
    if (!makePipe(in))
        return errno;
    if (!makePipe(out)) {
        const int error = errno;
        ::close(in[0]);
        ::close(in[1]);
        return error;
    }
    if (!makePipe(err)) {
        const int error = errno;
        for (const int fd : {in[0], in[1], out[0], out[1]})
            ::close(fd);
        return error;
    }
    // A large pipe lets the child write a whole batch while we are busy.
    ::fcntl(out[1], F_SETPIPE_SZ, 1 << 20);

    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> args{path};
    for (const QString& a : arguments)
        args.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    char* noEnvironment[] = {nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // The child's own signal mask and dispositions, not those of this process's threads.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char** environment = options.inheritEnvironment ? environ : noEnvironment;
    const int error = options.searchPath ? posix_spawnp(&m_pid, path.constData(), &actions,
                                                        &attributes, argv.data(), environment)
                                         : posix_spawn(&m_pid, path.constData(), &actions,
                                                       &attributes, argv.data(), environment);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);

    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    m_input = in[1];
    m_output = out[0];
    m_errors = err[0];
    m_status = -1;
    if (error != 0) {
        m_pid = -1;
        closeAll();
    } else if (m_usePidfd) {
        // Readable once the child has ended: waiting for it needs no polling loop.
        m_pidfd = int(::syscall(SYS_pidfd_open, m_pid, 0));
    }
    return error;
}

bool ChildProcess::readOutput(char* data, qsizetype size, int timeoutMs)
{
    while (size > 0) {
        pollfd p{m_output, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::read(m_output, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool ChildProcess::outputEnded() const
{
    pollfd p{m_output, POLLIN, 0};
    return m_output < 0 || (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)));
}

void ChildProcess::read(int timeoutMs)
{
    pollfd fds[2] = {{m_output, POLLIN, 0}, {m_errors, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0)
        return;
    char buffer[4096];
    for (pollfd& f : fds) {
        if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const bool isOutput = f.fd == m_output;
        const ssize_t n = ::read(f.fd, buffer, sizeof buffer);
        if (n > 0)
            (isOutput ? m_outputText : m_errorText).append(buffer, n);
        else if (n == 0 || errno != EINTR)
            closeFd(isOutput ? m_output : m_errors); // end of output
    }
}

QByteArray ChildProcess::errorOutput()
{
    char buffer[4096];
    while (m_errors >= 0) {
        pollfd p{m_errors, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0)
            break;
        const ssize_t n = ::read(m_errors, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            closeFd(m_errors); // its end: nothing more to wait for there
        if (n <= 0)
            break;
        m_errorText.append(buffer, n);
    }
    return m_errorText;
}

QByteArray ChildProcess::takeErrorOutput()
{
    errorOutput();
    return std::exchange(m_errorText, QByteArray());
}

void ChildProcess::signal(int number)
{
    if (m_pid > 0 && m_status < 0)
        ::kill(m_pid, number);
}

void ChildProcess::terminate()
{
    signal(SIGTERM);
}

void ChildProcess::kill()
{
    signal(SIGKILL);
}

int ChildProcess::wait(int timeoutMs)
{
    if (m_pid <= 0 || m_status >= 0)
        return m_status;
    if (timeoutMs < 0) {
        reap(0);
        return m_status;
    }
    if (m_pidfd >= 0 && timeoutMs > 0) {
        pollfd p{m_pidfd, POLLIN, 0};
        while (::poll(&p, 1, timeoutMs) < 0 && errno == EINTR) {
        }
        reap(WNOHANG);
        return m_status;
    }
    // Without a pidfd: look now and then until the deadline, never a wait without end.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!reap(WNOHANG) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(PollInterval);
    return m_status;
}

bool ChildProcess::tryWait()
{
    if (wait(0) < 0)
        return false;
    finish();
    return true;
}

void ChildProcess::finish()
{
    while (m_output >= 0 || m_errors >= 0)
        read(1000);
    wait(-1);
}

int ChildProcess::exitCode() const
{
    if (m_status < 0)
        return -1;
    return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : 128 + WTERMSIG(m_status);
}

bool ChildProcess::reap(int options)
{
    int status = 0;
    rusage usage{};
    pid_t done;
    do
        done = ::wait4(m_pid, &status, options, &usage);
    while (done < 0 && errno == EINTR);
    if (done != m_pid)
        return false;
    m_status = status;
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    m_cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    closeFd(m_pidfd);
    return true;
}
