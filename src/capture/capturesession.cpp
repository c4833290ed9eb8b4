#include "capturesession.h"

#include "helpererrors.h"
#include "helperprotocol.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Each read takes up to this much; it holds the largest record with room to spare.
constexpr qsizetype ReadBytes = qsizetype(1) << 20;
static_assert(ReadBytes > HelperProtocol::RecordHeaderBytes + HelperProtocol::SnapshotLength);

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

} // namespace

CaptureSession::CaptureSession(const QString& helper, const QString& device)
    : m_helperPath(helper), m_device(device), m_stopRequest(::eventfd(0, EFD_CLOEXEC))
{}

CaptureSession::~CaptureSession()
{
    if (m_thread.joinable()) {
        stop();
        m_thread.join(); // within StopTimeout: then the helper is killed
    }
    if (m_stopRequest >= 0)
        ::close(m_stopRequest);
}

std::unique_ptr<CaptureSession> CaptureSession::open(const QString& helper, const QString& device,
                                                     const QString& filter, QString* error,
                                                     int startTimeoutMs)
{
    std::unique_ptr<CaptureSession> session(new CaptureSession(helper, device));
    *error = session->startHelper(filter, startTimeoutMs);
    if (!error->isEmpty())
        return nullptr;
    return session;
}

QString CaptureSession::startHelper(const QString& filter, int timeoutMs)
{
    if (m_stopRequest < 0)
        return HelperErrors::cannotRun(m_helperPath, errno);
    const int spawnError =
        m_helper.start(m_helperPath, {QLatin1String(HelperProtocol::InterfaceOption), m_device,
                                      QLatin1String(HelperProtocol::FilterOption), filter});
    if (spawnError != 0)
        return HelperErrors::cannotRun(m_helperPath, spawnError);
    char header[HelperProtocol::FileHeaderBytes];
    if (!m_helper.readOutput(header, sizeof header, timeoutMs)) {
        if (m_helper.outputEnded())
            return helperEnded();
        m_helper.kill();
        m_helper.wait(-1);
        return HelperErrors::noAnswer(m_helperPath, (timeoutMs + 999) / 1000);
    }
    if (!m_reader.readHeader(QByteArrayView(header, sizeof header))) {
        m_helper.kill();
        m_helper.wait(-1);
        return HelperErrors::unreadable(m_helperPath);
    }
    return {};
}

// The helper's output has ended: its status and last words say why.
QString CaptureSession::helperEnded()
{
    reap(StopTimeout);
    return HelperErrors::fromHelper(m_helperPath, m_helper.wait(0),
                                    QString::fromLocal8Bit(m_helper.errorOutput()));
}

// Its output has ended, so the helper is ending; one that does not within limit is killed.
void CaptureSession::reap(Clock::duration limit)
{
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(limit).count();
    if (m_helper.wait(int(std::max<decltype(ms)>(ms, 0))) < 0) {
        m_helper.kill();
        m_helper.wait(-1);
    }
}

void CaptureSession::start(std::function<void()> wake)
{
    m_wake = std::move(wake);
    m_thread = std::thread([this] { run(); });
}

void CaptureSession::stop()
{
    const std::uint64_t one = 1;
    if (m_stopRequest >= 0)
        while (::write(m_stopRequest, &one, sizeof one) < 0 && errno == EINTR) {
        }
}

void CaptureSession::run()
{
    bool broken = false;
    bool outOfMemory = false;
    try {
        broken = !readOutput();
    } catch (const std::bad_alloc&) {
        // The window's store stops growing while memory is left for the rest. Should this
        // thread find none all the same, capture ends with this reason; what was handed over
        // before stays.
        outOfMemory = true;
    }
    end(broken, outOfMemory);
}

// Reads records until the helper's output ends; false when it broke off in a way no savefile
// does.
bool CaptureSession::readOutput()
{
    std::vector<char> buffer(static_cast<size_t>(ReadBytes));
    qsizetype held = 0;
    PacketBatch batch;
    batch.reserve(4096, ReadBytes);
    while (waitForOutput()) {
        const ssize_t n =
            ::read(m_helper.outputFd(), buffer.data() + held, size_t(ReadBytes - held));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
        held += n;
        const qsizetype used = m_reader.readRecords(QByteArrayView(buffer.data(), held), batch);
        publish(batch); // the records before a break are whole
        if (used < 0)
            return false;
        held -= used;
        std::memmove(buffer.data(), buffer.data() + used, size_t(held));
    }
    return true;
}

// Waits until the helper's output has something (or has ended); meanwhile passes a stop on to
// the helper and kills one that has not ended in time. False when there is nothing left to
// wait for.
bool CaptureSession::waitForOutput()
{
    for (;;) {
        pollfd fds[2] = {{m_helper.outputFd(), POLLIN, 0},
                         {m_stopAsked ? -1 : m_stopRequest, POLLIN, 0}};
        const bool deadline = m_stopAsked && !m_killed;
        const int ready = ::poll(fds, 2, deadline ? millisecondsUntil(m_stopDeadline) : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return false;
        if (fds[0].revents)
            return true;
        if (fds[1].revents) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t taken = ::read(m_stopRequest, &count, sizeof count);
            m_stopAsked = true;
            m_stopDeadline = Clock::now() + StopTimeout;
            m_helper.terminate();
        } else if (ready == 0) {
            m_helper.kill(); // its output ends with it
            m_killed = true;
        }
    }
}

void CaptureSession::end(bool broken, bool outOfMemory)
{
    // A stream that cannot be read, or one there is no memory for, is not waited for.
    if (broken || outOfMemory)
        m_helper.kill();
    reap(m_stopAsked ? m_stopDeadline - Clock::now() : Clock::duration(StopTimeout));
    const int status = m_helper.wait(0);
    const QString errors = QString::fromLocal8Bit(m_helper.errorOutput());
    QString report;
    if (outOfMemory)
        report = QStringLiteral("Capture stopped because memory is full.");
    else if (broken)
        report = HelperErrors::unreadable(m_helperPath);
    else if (m_killed)
        report = HelperErrors::noStop(m_helperPath);
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != HelperProtocol::Ended || !m_stopAsked)
        report = HelperErrors::fromHelper(m_helperPath, status, errors);
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_endReport = report;
        m_stats = HelperErrors::statsFrom(errors);
    }
    m_endedSignal.notify_all();
    if (m_wake)
        m_wake();
}

void CaptureSession::publish(PacketBatch& batch)
{
    if (batch.isEmpty())
        return;
    {
        std::lock_guard lock(m_mutex);
        // Usually the window has taken everything since: then the batch itself is handed
        // over, and the emptied buffers it gets back are filled next.
        if (m_pending.isEmpty())
            std::swap(m_pending, batch);
        else
            m_pending.append(batch);
    }
    batch.clear();
    if (m_wake)
        m_wake();
}

void CaptureSession::take(PacketBatch& out)
{
    out.clear();
    std::lock_guard lock(m_mutex);
    std::swap(out, m_pending);
}

bool CaptureSession::hasEnded() const
{
    std::lock_guard lock(m_mutex);
    return m_ended;
}

bool CaptureSession::waitEnded(int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_endedSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] { return m_ended; });
}

QString CaptureSession::endReport() const
{
    std::lock_guard lock(m_mutex);
    return m_endReport;
}

CaptureStats CaptureSession::stats() const
{
    std::lock_guard lock(m_mutex);
    return m_stats;
}
