#include "capturesession.h"

#include "helpererrors.h"
#include "helperprotocol.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Each read takes up to this much; it holds the largest record with room to spare.
constexpr qsizetype ReadBytes = qsizetype(1) << 20;
// What the helper says besides its counts is a line or two; more is not kept.
constexpr qsizetype ErrorTextBytes = 64 << 10;
static_assert(ReadBytes > HelperProtocol::RecordHeaderBytes + HelperProtocol::SnapshotLength);

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

} // namespace

CaptureSession::CaptureSession(const QString& helper, const QString& device)
    : m_helperPath(helper), m_device(device),
      m_stopRequest(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{}

CaptureSession::~CaptureSession()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_closing = true; // nobody takes packets any more: the thread reads them to the end
        }
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
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested = true;
    }
    m_roomSignal.notify_all();
}

void CaptureSession::run()
{
    ::pthread_setname_np(::pthread_self(), "kinto-reader"); // as top and perf show it
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
    while (waitForOutput()) {
        const ssize_t n =
            ::read(m_helper.outputFd(), buffer.data() + held, size_t(ReadBytes - held));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
        held += n;
        const qsizetype used = publish(QByteArrayView(buffer.data(), held));
        if (used < 0)
            return false;
        held -= used;
        std::memmove(buffer.data(), buffer.data() + used, size_t(held));
    }
    return true;
}

// Waits until the helper's output has something (or has ended) and the window has room for
// it. Every turn first passes a stop on to the helper and kills one that has not ended in time,
// whatever the output did meanwhile, and takes the helper's counts. False when there is nothing
// left to wait for.
bool CaptureSession::waitForOutput()
{
    for (;;) {
        passStopOn();
        killIfLate();
        if (!hasRoom()) {
            waitForRoom();
            readErrors();
            continue;
        }
        pollfd fds[3] = {{m_helper.outputFd(), POLLIN, 0},
                         {m_helper.errorFd(), POLLIN, 0},
                         {m_stopAsked ? -1 : m_stopRequest, POLLIN, 0}};
        const bool deadline = m_stopAsked && !m_killed;
        const int ready = ::poll(fds, 3, deadline ? millisecondsUntil(m_stopDeadline) : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return false;
        if (fds[1].revents)
            readErrors();
        if (fds[0].revents && !fds[2].revents)
            return true;
    }
}

void CaptureSession::passStopOn()
{
    std::uint64_t count = 0;
    if (m_stopAsked || ::read(m_stopRequest, &count, sizeof count) != sizeof count)
        return;
    m_stopAsked = true;
    m_stopDeadline = Clock::now() + StopTimeout;
    m_helper.terminate();
}

// A helper still running a StopTimeout after the stop is killed; its output ends with it. One
// that has ended by itself is not: what it wrote is read to the end.
void CaptureSession::killIfLate()
{
    if (!m_stopAsked || m_killed || Clock::now() < m_stopDeadline)
        return;
    m_killed = m_helper.wait(0) < 0;
    if (m_killed)
        m_helper.kill();
    else
        m_stopDeadline = Clock::time_point::max();
}

// The window has not taken what is pending: wait until it does, or until a stop or the kill
// deadline needs this thread.
void CaptureSession::waitForRoom()
{
    const auto until =
        m_stopAsked && !m_killed ? m_stopDeadline : Clock::now() + HelperProtocol::StatsInterval;
    std::unique_lock lock(m_mutex);
    m_roomSignal.wait_until(lock, until,
                            [this] { return roomLocked() || (m_stopRequested && !m_stopAsked); });
}

bool CaptureSession::hasRoom() const
{
    std::lock_guard lock(m_mutex);
    return roomLocked();
}

bool CaptureSession::roomLocked() const
{
    return m_closing ||
           (m_pending.byteCount() < PendingBytes && m_pending.count() < PendingPackets);
}

// Takes the helper's counts from what it wrote to standard error; keeps its other words for
// the report at its end.
void CaptureSession::readErrors()
{
    m_partialLine += m_helper.takeErrorOutput();
    bool dropped = false;
    qsizetype start = 0;
    for (qsizetype end; (end = m_partialLine.indexOf('\n', start)) >= 0; start = end + 1) {
        const QByteArray line = m_partialLine.sliced(start, end + 1 - start);
        CaptureStats counts;
        if (HelperErrors::statsFromLine(QString::fromLocal8Bit(line), &counts)) {
            std::lock_guard lock(m_mutex);
            counts.dropped = std::max(counts.dropped, m_stats.dropped);
            dropped |= counts.dropped != m_stats.dropped;
            m_stats = counts;
        } else if (m_errorLines.size() < ErrorTextBytes) {
            m_errorLines += line;
        }
    }
    m_partialLine.remove(0, start);
    if (m_partialLine.size() > ErrorTextBytes)
        m_partialLine.clear(); // not a line the helper writes
    if (dropped && m_wake)
        m_wake(); // the window shows the loss as it happens
}

void CaptureSession::end(bool broken, bool outOfMemory)
{
    // A stream that cannot be read, or one there is no memory for, is not waited for.
    if (broken || outOfMemory)
        m_helper.kill();
    reap(m_stopAsked ? std::min<Clock::duration>(m_stopDeadline - Clock::now(), StopTimeout)
                     : Clock::duration(StopTimeout));
    const int status = m_helper.wait(0);
    readErrors();
    const QString errors = QString::fromLocal8Bit(m_errorLines + m_partialLine);
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
    }
    m_endedSignal.notify_all();
    if (m_wake)
        m_wake();
}

// Turns the complete records of bytes into packets waiting for the window, straight into the
// pending batch: holding the lock that long (a fraction of a millisecond for a megabyte) costs
// less than copying every packet a second time. Returns the bytes used, or -1 where the stream
// broke off in a way no savefile does (the records before the break are kept).
qsizetype CaptureSession::publish(QByteArrayView bytes)
{
    qsizetype used;
    bool added;
    {
        std::lock_guard lock(m_mutex);
        const qsizetype before = m_pending.count();
        used = m_reader.readRecords(bytes, m_pending);
        added = m_pending.count() > before;
        if (m_closing)
            m_pending.clear(); // nobody takes them any more
    }
    if (added && m_wake)
        m_wake();
    return used;
}

void CaptureSession::take(PacketBatch& out)
{
    out.clear();
    {
        std::lock_guard lock(m_mutex);
        std::swap(out, m_pending);
    }
    m_roomSignal.notify_all();
}

quint64 CaptureSession::takeDropped()
{
    std::lock_guard lock(m_mutex);
    return m_stats.dropped - std::exchange(m_droppedTaken, m_stats.dropped);
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
