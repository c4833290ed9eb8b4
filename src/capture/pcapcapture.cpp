#include "pcapcapture.h"

#include "pcaperrors.h"
#include "pcapsession.h"

#include <QMetaObject>

#include <pcap/pcap.h>

namespace {

// Devices that carry no IP traffic and cannot take a "port N" filter.
bool carriesIp(const QString& name)
{
    static const char* const others[] = {"bluetooth", "dbus",        "nflog",       "nfqueue",
                                         "usbmon",    "dbus-system", "dbus-session"};
    for (const char* prefix : others) {
        if (name.startsWith(QLatin1String(prefix)))
            return false;
    }
    return true;
}

QString describe(const pcap_if_t* device)
{
    const QString name = QString::fromLocal8Bit(device->name);
    QString what;
    if (device->description)
        what = QString::fromLocal8Bit(device->description);
    else if (device->flags & PCAP_IF_LOOPBACK)
        what = QStringLiteral("Loopback");
    else if (device->flags & PCAP_IF_WIRELESS)
        what = QStringLiteral("Wireless adapter");
    else
        what = QStringLiteral("Network adapter");
    return QStringLiteral("%1 (%2)").arg(name, what);
}

} // namespace

PcapCapture::PcapCapture(QObject* parent) : CaptureComponent(parent), m_adapters(findAdapters())
{
    m_deliveryTimer.setSingleShot(true);
    m_deliveryTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_deliveryTimer, &QTimer::timeout, this, &PcapCapture::deliver);
}

PcapCapture::~PcapCapture()
{
    endSession();
}

QList<CaptureAdapter> PcapCapture::findAdapters()
{
    QList<CaptureAdapter> found;
    pcap_if_t* devices = nullptr;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    if (pcap_findalldevs(&devices, errbuf) != 0)
        return found;
    for (const pcap_if_t* d = devices; d; d = d->next) {
        const QString name = QString::fromLocal8Bit(d->name);
        if (carriesIp(name))
            found.append({name, describe(d)});
    }
    pcap_freealldevs(devices);
    return found;
}

QList<CaptureAdapter> PcapCapture::adapters() const
{
    return m_adapters;
}

void PcapCapture::startup()
{
    // libpcap needs no start-up step; the adapters were read when the component was created.
}

void PcapCapture::setAdapter(int index)
{
    m_adapter = index;
}

QString PcapCapture::setFilter(const QString& expression)
{
    m_filter = expression;
    // Check the expression now so that the reason reaches the person who typed it.
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, PcapSession::SnapshotLength);
    bpf_program program;
    const QByteArray text = expression.toLocal8Bit();
    if (pcap_compile(dead, &program, text.constData(), 1, PCAP_NETMASK_UNKNOWN) < 0)
        m_filterError =
            PcapErrors::filterFailed(expression, QString::fromLocal8Bit(pcap_geterr(dead)));
    else {
        m_filterError.clear();
        pcap_freecode(&program);
    }
    pcap_close(dead);

    // A running capture must not go on with the filter it had before.
    if (m_session && !m_filterError.isEmpty())
        endSession();
    if (!m_filterError.isEmpty())
        return m_filterError;
    return m_session ? start() : QString();
}

QString PcapCapture::start()
{
    endSession();
    if (m_adapter < 0 || m_adapter >= m_adapters.size())
        return QStringLiteral("No adapter is chosen.");
    if (!m_filterError.isEmpty())
        return m_filterError;
    return restart(m_adapters[m_adapter].name);
}

QString PcapCapture::restart(const QString& device)
{
    QString error;
    m_session = PcapSession::open(device, m_filter, &error);
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
    endSession();
}

void PcapCapture::endSession()
{
    if (!m_session)
        return;
    m_deliveryTimer.stop();
    m_session->stop();
    m_wakePending = false; // the thread has ended: the next session must be able to wake us
    // What was captured before the stop still becomes rows.
    m_session->take(m_delivery);
    m_lastStats = m_session->stats();
    m_session.reset();
    if (!m_delivery.isEmpty())
        emit packetsCaptured(m_delivery);
}

bool PcapCapture::isCapturing() const
{
    return m_session != nullptr;
}

CaptureStats PcapCapture::stats() const
{
    return m_session ? m_session->stats() : m_lastStats;
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
        // The wake stays pending: the capture thread need not post again meanwhile.
        m_deliveryTimer.start(int(wait));
        return;
    }
    m_wakePending = false;
    m_sinceDelivery.start();
    m_session->take(m_delivery);
    if (!m_delivery.isEmpty())
        emit packetsCaptured(m_delivery);
    // A slot may have stopped or restarted the capture meanwhile.
    if (m_session && m_session->hasFailed()) {
        const QString reason = m_session->failure();
        endSession();
        emit captureFailed(reason);
    }
}
