#include "pcapcapture.h"

#include "adapterlist.h"
#include "capturesession.h"
#include "filterexpression.h"
#include "helperprotocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>

#include <algorithm>

PcapCapture::PcapCapture(QObject* parent, const QString& helper)
    : CaptureComponent(parent), m_helper(helper), m_startTimeoutMs(CaptureSession::StartTimeoutMs)
{
    // Listing adapters needs no privilege: it stays in this process.
    m_adapters = AdapterList::find(&m_adapterError);
    m_deliveryTimer.setSingleShot(true);
    m_deliveryTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_deliveryTimer, &QTimer::timeout, this, &PcapCapture::deliver);
}

PcapCapture::~PcapCapture()
{
    // Nothing is delivered or reported any more. The helpers end side by side, and the reading
    // threads, which wake this object, are gone before its members.
    if (m_session)
        m_session->stop();
    m_stopping.clear();
    m_session.reset();
}

QString PcapCapture::helperPath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../libexec/kintosniffer/") +
                           QLatin1String(HelperProtocol::ProgramName));
}

void PcapCapture::startup()
{
    // libpcap needs no start-up step; the adapters were read when the component was created.
}

QString PcapCapture::start()
{
    stopSession(StopCause::Asked);
    if (m_adapter < 0 || m_adapter >= m_adapters.size())
        return QStringLiteral("No adapter is chosen.");
    QString error;
    m_session =
        CaptureSession::open(m_helper, m_adapters[m_adapter].name,
                             FilterExpression::decimalNumbers(m_filter), &error, m_startTimeoutMs);
    if (!m_session)
        return error;
    m_session->start([this] {
        if (!m_wakePending.exchange(true))
            QMetaObject::invokeMethod(this, &PcapCapture::deliver, Qt::QueuedConnection);
    });
    return {};
}

void PcapCapture::stop(StopCause cause)
{
    stopSession(cause);
}

void PcapCapture::stopSession(StopCause cause)
{
    if (!m_session)
        return;
    m_session->stop();
    m_stopping.push_back({std::move(m_session), cause == StopCause::Asked});
}

void PcapCapture::waitForStopped(int timeoutMs)
{
    // The window goes on painting and taking deliveries meanwhile; what the user does waits.
    auto allEnded = [this] {
        return std::all_of(m_stopping.begin(), m_stopping.end(),
                           [](const Stopping& s) { return s.session->hasEnded(); });
    };
    QElapsedTimer clock;
    clock.start();
    QTimer poke; // looks at the clock when nothing else happens
    poke.start(10);
    while (!allEnded() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::WaitForMoreEvents);
    deliverStopped();
}

bool PcapCapture::isCapturing() const
{
    return m_session != nullptr;
}

CaptureStats PcapCapture::stats() const
{
    return m_session ? m_session->stats() : m_lastStats;
}

qint64 PcapCapture::helperPid() const
{
    return m_session ? m_session->helperPid() : 0;
}

void PcapCapture::deliver()
{
    const bool ending = (m_session && m_session->hasEnded()) ||
                        (!m_stopping.empty() && m_stopping.front().session->hasEnded());
    const qint64 wait =
        m_sinceDelivery.isValid() ? DeliveryIntervalMs - m_sinceDelivery.elapsed() : 0;
    if (wait > 0 && !ending) {
        // The wake stays pending: the reading threads need not post again meanwhile.
        m_deliveryTimer.start(int(wait));
        return;
    }
    m_deliveryTimer.stop();
    m_wakePending = false;
    m_sinceDelivery.start();
    if (deliverStopped())
        deliverCurrent();
}

// Delivers what the stopped sessions captured, oldest first, and lets go of those that have
// ended. True when none is left: only then may the running session's packets follow.
bool PcapCapture::deliverStopped()
{
    while (!m_stopping.empty()) {
        CaptureSession* session = m_stopping.front().session.get();
        const bool ended = session->hasEnded(); // before the take: then nothing comes after it
        handOver(*session);
        if (!ended)
            return false;
        // A slot may have got here first.
        if (m_stopping.empty() || m_stopping.front().session.get() != session)
            continue;
        const QString report = m_stopping.front().report ? session->endReport() : QString();
        m_lastStats = session->stats();
        m_stopping.pop_front();
        if (!report.isEmpty())
            emit captureFailed(report);
    }
    return true;
}

// Delivers what the session has for the list: its packets, then how many it lost.
void PcapCapture::handOver(CaptureSession& session)
{
    session.take(m_delivery);
    if (!m_delivery.isEmpty())
        emit packetsCaptured(m_delivery);
    m_delivery.clear(); // a burst's batch is not kept until the next delivery
    if (const quint64 dropped = session.takeDropped())
        emit packetsDropped(dropped);
}

void PcapCapture::deliverCurrent()
{
    CaptureSession* session = m_session.get();
    if (!session)
        return;
    const bool ended = session->hasEnded(); // by itself: it was not asked to stop
    handOver(*session);
    // A slot may have stopped or restarted the capture meanwhile.
    if (!ended || m_session.get() != session)
        return;
    const QString reason = session->endReport();
    m_lastStats = session->stats();
    m_session.reset();
    emit captureFailed(reason);
}
