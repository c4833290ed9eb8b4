#include "pcapcapture.h"

#include "adapterlist.h"
#include "capturesession.h"
#include "filterexpression.h"
#include "helperprotocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>

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
    endSession(false);
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
    endSession(true);
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

void PcapCapture::stop()
{
    endSession(true);
}

void PcapCapture::endSession(bool report)
{
    if (!m_session)
        return;
    m_deliveryTimer.stop();
    m_session->stop();
    m_wakePending = false; // the thread has ended: the next session must be able to wake us
    // What was captured before the stop still becomes rows.
    m_session->take(m_delivery);
    m_lastStats = m_session->stats();
    const QString lost = m_session->stopFailure();
    m_session.reset();
    if (!m_delivery.isEmpty())
        emit packetsCaptured(m_delivery);
    if (report && !lost.isEmpty())
        emit captureFailed(lost);
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
    if (!m_session) {
        m_wakePending = false;
        return;
    }
    const qint64 wait =
        m_sinceDelivery.isValid() ? DeliveryIntervalMs - m_sinceDelivery.elapsed() : 0;
    if (wait > 0 && !m_session->hasFailed()) {
        // The wake stays pending: the reading thread need not post again meanwhile.
        m_deliveryTimer.start(int(wait));
        return;
    }
    m_wakePending = false;
    m_sinceDelivery.start();
    m_session->take(m_delivery);
    if (!m_delivery.isEmpty())
        emit packetsCaptured(m_delivery);
    m_delivery.clear(); // a burst's batch is not kept until the next delivery
    // A slot may have stopped or restarted the capture meanwhile.
    if (m_session && m_session->hasFailed()) {
        const QString reason = m_session->failure();
        endSession(false);
        emit captureFailed(reason);
    }
}
