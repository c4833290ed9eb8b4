#include "helperprocess.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

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

HelperProcess::~HelperProcess()
{
    if (m_pid > 0 && wait(0) < 0) {
        kill();
        wait(-1);
    }
    closeAll();
}

void HelperProcess::closeAll()
{
    closeFd(m_input);
    closeFd(m_output);
    closeFd(m_errors);
    closeFd(m_pidfd);
}

int HelperProcess::start(const QString& program, const QStringList& arguments)
{
    int in[2], out[2], err[2];
    if (!makePipe(in))
        return errno;
    if (!makePipe(out) || !makePipe(err)) {
        const int error = errno;
        ::close(in[0]);
        ::close(in[1]);
        return error;
    }
    // A large pipe lets the helper write a whole batch while we are busy.
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
    // The helper's own signal mask and dispositions, not those of this process's threads.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int error =
        posix_spawn(&m_pid, path.constData(), &actions, &attributes, argv.data(), noEnvironment);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);

    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    m_input = in[1];
    m_output = out[0];
    m_errors = err[0];
    if (error != 0) {
        m_pid = -1;
        closeAll();
    } else {
        // Readable once the helper has ended: waiting for it needs no polling loop.
        m_pidfd = int(::syscall(SYS_pidfd_open, m_pid, 0));
    }
    return error;
}

bool HelperProcess::readOutput(char* data, qsizetype size, int timeoutMs)
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

void HelperProcess::terminate()
{
    if (m_pid > 0 && m_status < 0)
        ::kill(m_pid, SIGTERM);
}

void HelperProcess::kill()
{
    if (m_pid > 0 && m_status < 0)
        ::kill(m_pid, SIGKILL);
}

int HelperProcess::wait(int timeoutMs)
{
    if (m_pid <= 0 || m_status >= 0)
        return m_status;
    if (timeoutMs != 0 && m_pidfd >= 0) {
        pollfd p{m_pidfd, POLLIN, 0};
        while (::poll(&p, 1, timeoutMs) < 0 && errno == EINTR) {
        }
    }
    int status = 0;
    pid_t done;
    do
        done = ::waitpid(m_pid, &status, timeoutMs < 0 || m_pidfd < 0 ? 0 : WNOHANG);
    while (done < 0 && errno == EINTR);
    if (done != m_pid)
        return -1;
    m_status = status;
    closeFd(m_pidfd);
    return m_status;
}

QByteArray HelperProcess::errorOutput()
{
    char buffer[4096];
    while (m_errors >= 0) {
        pollfd p{m_errors, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0)
            break;
        const ssize_t n = ::read(m_errors, buffer, sizeof buffer);
        if (n <= 0)
            break;
        m_errorText.append(buffer, n);
    }
    return m_errorText;
}
