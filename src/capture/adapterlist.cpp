#include "adapterlist.h"

#include "adapterrule.h"

#include <pcap/pcap.h>

namespace {

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

namespace AdapterList {

QList<CaptureAdapter> find(QString* error)
{
    QList<CaptureAdapter> found;
    pcap_if_t* devices = nullptr;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    if (pcap_findalldevs(&devices, errbuf) != 0) {
        *error = QStringLiteral("The network adapters cannot be listed: %1")
                     .arg(QString::fromLocal8Bit(errbuf));
        return found;
    }
    for (const pcap_if_t* d = devices; d; d = d->next) {
        if (AdapterRule::isNetworkAdapter(d->name))
            found.append({QString::fromLocal8Bit(d->name), describe(d)});
    }
    pcap_freealldevs(devices);
    return found;
}

} // namespace AdapterList
