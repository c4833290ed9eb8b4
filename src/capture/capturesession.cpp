#include "capturesession.h"

#include "helpererrors.h"
#include "helperprotocol.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A helper asked to stop writes what it holds and ends; one that delivers nothing for this long
// is killed.
constexpr auto StopTimeout = std::chrono::seconds(2);
// Each read takes up to this much; it holds the largest record with room to spare.
constexpr qsizetype ReadBytes = qsizetype(1) << 20;
static_assert(ReadBytes > HelperProtocol::RecordHeaderBytes + HelperProtocol::SnapshotLength);

} // namespace

CaptureSession::CaptureSession(const QString& helper, const QString& device)
    : m_helperPath(helper), m_device(device)
{}

CaptureSession::~CaptureSession()
{
    stop();
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
    endHelper();
    return HelperErrors::fromHelper(m_helperPath, m_helper.wait(0),
                                    QString::fromLocal8Bit(m_helper.errorOutput()));
}

void CaptureSession::start(std::function<void()> wake)
{
    m_wake = std::move(wake);
    m_thread = std::thread([this] {
        try {
            run();
        } catch (const std::bad_alloc&) {
            endWithoutMemory();
        }
    });
}

// The window's store stops growing while memory is left for the rest. Should this thread find
// none all the same, capture ends as when the helper's output ends, with this reason; what was
// handed over before stays.
void CaptureSession::endWithoutMemory()
{
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
        m_failure = QStringLiteral("Capture stopped because memory is full.");
    }
    m_ended.notify_all();
    if (!m_stopping) {
        m_failed = true;
        if (m_wake)
            m_wake();
    }
}

void CaptureSession::stop()
{
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    m_helper.terminate();
    bool killed = false;
    {
        std::unique_lock lock(m_mutex);
        for (qint64 seen = -1; !m_done && !killed;) {
            const qint64 read = m_bytesRead.load();
            if (read == seen) {
                m_helper.kill(); // its output closes, and the thread with it
                killed = true;
            }
            seen = read;
            m_ended.wait_for(lock, StopTimeout, [this] { return m_done; });
        }
    }
    m_thread.join();
    endHelper();
    const int status = m_helper.wait(0);
    const QString errors = QString::fromLocal8Bit(m_helper.errorOutput());
    if (killed)
        m_stopFailure = HelperErrors::noStop(m_helperPath);
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != HelperProtocol::Ended)
        m_stopFailure = HelperErrors::fromHelper(m_helperPath, status, errors);
    const CaptureStats stats = HelperErrors::statsFrom(errors);
    std::lock_guard lock(m_mutex);
    m_stats = stats;
}

// Reaps the helper once its output has ended: it is ending; one that does not is killed.
void CaptureSession::endHelper()
{
    if (m_helper.wait(int(std::chrono::milliseconds(StopTimeout).count())) < 0) {
        m_helper.kill();
        m_helper.wait(-1);
    }
}

void CaptureSession::run()
{
    std::vector<char> buffer(static_cast<size_t>(ReadBytes));
    qsizetype held = 0;
    PacketBatch batch;
    batch.reserve(4096, ReadBytes);
    bool broken = false;
    for (;;) {
        const ssize_t n =
            ::read(m_helper.outputFd(), buffer.data() + held, size_t(ReadBytes - held));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        held += n;
        m_bytesRead += n;
        const qsizetype used = m_reader.readRecords(QByteArrayView(buffer.data(), held), batch);
        if (used < 0) {
            publish(batch); // the records before the break are whole
            broken = true;
            break;
        }
        held -= used;
        std::memmove(buffer.data(), buffer.data() + used, size_t(held));
        publish(batch);
    }
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
        if (broken)
            m_failure = HelperErrors::unreadable(m_helperPath);
    }
    m_ended.notify_all();
    if (!m_stopping) {
        m_failed = true;
        if (m_wake)
            m_wake();
    }
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

QString CaptureSession::failure()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_failure.isEmpty())
            return m_failure;
    }
    // The thread has seen the end of the helper's output: the helper is ending or has ended.
    if (m_thread.joinable())
        m_thread.join();
    const QString reason = helperEnded();
    std::lock_guard lock(m_mutex);
    m_stats = HelperErrors::statsFrom(QString::fromLocal8Bit(m_helper.errorOutput()));
    m_failure = reason;
    return m_failure;
}

CaptureStats CaptureSession::stats() const
{
    std::lock_guard lock(m_mutex);
    return m_stats;
}
