#include "capturefilereader.h"

#include "filterexpression.h"
#include "packetbatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 MaxRecordsPerRead = 65536;
constexpr qint64 MaxSeconds = 0xffffffff;

QString quoted(const QString& name)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(name) + QLatin1Char('"');
}

} // namespace

CaptureFileReader::CaptureFileReader() : m_program(new bpf_program{}) {}

CaptureFileReader::~CaptureFileReader()
{
    pcap_freecode(m_program);
    delete m_program;
    if (m_handle)
        pcap_close(m_handle);
}

bool CaptureFileReader::fail(const QString& reason)
{
    m_error = quoted(m_name) + QLatin1Char(' ') + reason;
    return false;
}

bool CaptureFileReader::open(const QString& fileName, const QString& filter)
{
    m_name = fileName;
    // Not blocking: a FIFO without a writer would otherwise hold the reading thread forever.
    const int fd =
        ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat status;
    if (fd < 0 || ::fstat(fd, &status) != 0)
        return fail(QStringLiteral("cannot be opened: %1").arg(qt_error_string(errno)));
    if (S_ISDIR(status.st_mode)) {
        ::close(fd);
        return fail(QStringLiteral("is a folder, not a capture file."));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        return fail(QStringLiteral("cannot be opened: %1").arg(qt_error_string(errno)));
    }
    if (S_ISREG(status.st_mode))
        m_fileBytes.store(status.st_size, std::memory_order_relaxed);
    return open(file, fileName, filter);
}

bool CaptureFileReader::open(std::FILE* file, const QString& name, const QString& filter)
{
    m_name = name;
    char error[PCAP_ERRBUF_SIZE] = {};
    // Times in microseconds, as the list keeps them; libpcap scales nanosecond files.
    m_handle = pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_MICRO, error);
    if (!m_handle) {
        std::fclose(file);
        return fail(QStringLiteral("is not a capture file that can be read here (pcap or "
                                   "pcapng): %1.")
                        .arg(QString::fromLocal8Bit(error)));
    }
    m_linkType = pcap_datalink(m_handle);
    if (pcap_major_version(m_handle) == 2) // pcap, not pcapng
        m_position = std::ftell(pcap_file(m_handle));
    return compile(filter);
}

// The live capture's filter, compiled for the file's link type: libpcap knows where the UDP
// ports lie behind an Ethernet header, a Linux cooked one and many others.
bool CaptureFileReader::compile(const QString& filter)
{
    const QByteArray expression = FilterExpression::decimalNumbers(filter).toLatin1();
    if (pcap_compile(m_handle, m_program, expression.constData(), 1, PCAP_NETMASK_UNKNOWN) == 0)
        return true;
    const char* name = pcap_datalink_val_to_name(m_linkType);
    const char* description = pcap_datalink_val_to_description(m_linkType);
    return fail(QStringLiteral("holds packets of link type %1 (%2), whose UDP ports cannot be "
                               "read: %3.")
                    .arg(name ? QString::fromLatin1(name) : QString::number(m_linkType),
                         description ? QString::fromLatin1(description) : QStringLiteral("unknown"),
                         QString::fromLocal8Bit(pcap_geterr(m_handle))));
}

// What is wrong with a record libpcap read, if anything.
QString CaptureFileReader::damage(const pcap_pkthdr& header)
{
    if (overlong(header)) {
        return QStringLiteral("a record longer than the file's snapshot length of %1 bytes")
            .arg(pcap_snapshot(m_handle));
    }
    // A pcapng time may lie ages away; the list and a saved pcap file hold 32-bit seconds.
    if (header.ts.tv_sec < 0 || header.ts.tv_sec > MaxSeconds)
        return QStringLiteral("a packet time after the year 2106");
    return {};
}

// libpcap cuts a pcap record longer than the file's snapshot length to that length and says
// nothing; tcpdump never writes one, so it is damage, seen from how far the record moved the
// file. Only a record cut to the snapshot length can have been one, so only then is the file
// asked where it is. (pcapng blocks may carry options: their length tells nothing of this.)
bool CaptureFileReader::overlong(const pcap_pkthdr& header)
{
    if (m_position < 0)
        return false;
    m_position += 16 + long(header.caplen);
    if (header.caplen < bpf_u_int32(pcap_snapshot(m_handle)))
        return false;
    const long expected = m_position;
    m_position = std::ftell(pcap_file(m_handle));
    return m_position > expected;
}

CaptureFileReader::Result CaptureFileReader::read(PacketBatch& batch, qsizetype maxBytes)
{
    batch.setLinkType(m_linkType);
    qint64 packets = packetsRead();
    // Records the filter passes over count too, so that progress and a cancel are seen.
    const qint64 last = packets + MaxRecordsPerRead;
    Result result = Result::More;
    for (qsizetype held = 0; held < maxBytes && packets < last;) {
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int status = pcap_next_ex(m_handle, &header, &data);
        if (status == PCAP_ERROR_BREAK) {
            result = Result::End;
            break;
        }
        const QString reason =
            status != 1 ? QString::fromLocal8Bit(pcap_geterr(m_handle)) : damage(*header);
        if (!reason.isEmpty()) {
            fail(QStringLiteral("is damaged after %1 packets (%2); the packets before the "
                                "damage are listed.")
                     .arg(packets)
                     .arg(reason));
            result = Result::Failed;
            break;
        }
        ++packets;
        if (pcap_offline_filter(m_program, header, data) == 0)
            continue;
        const qint64 timeUs = qint64(header->ts.tv_sec) * 1000000 + header->ts.tv_usec;
        batch.append(timeUs, header->len,
                     QByteArrayView(reinterpret_cast<const char*>(data), header->caplen));
        held += header->caplen;
    }
    m_packets.store(packets, std::memory_order_relaxed);
    if (const long at = std::ftell(pcap_file(m_handle)); at > 0)
        m_bytes.store(at, std::memory_order_relaxed);
    return result;
}
