#include "pcaperrors.h"

#include <QCoreApplication>

#include <pcap/pcap.h>

namespace PcapErrors {

QString permissionHint()
{
    return QStringLiteral("Capturing needs the capabilities cap_net_raw and cap_net_admin: "
                          "grant them with \"sudo setcap cap_net_raw,cap_net_admin=eip %1\" "
                          "or run the program as root.")
        .arg(QCoreApplication::applicationFilePath());
}

QString openFailed(const QString& device, const QString& reason)
{
    return QStringLiteral("Cannot open the adapter %1: %2").arg(device, reason);
}

QString activateFailed(const QString& device, int status, const QString& reason)
{
    const QString detail =
        reason.isEmpty() ? QString::fromLocal8Bit(pcap_statustostr(status)) : reason;
    switch (status) {
    case PCAP_ERROR_PERM_DENIED:
        return QStringLiteral("No permission to capture on %1 (%2).\n%3")
            .arg(device, detail, permissionHint());
    case PCAP_ERROR_NO_SUCH_DEVICE:
        return QStringLiteral("The adapter %1 does not exist (any more): %2").arg(device, detail);
    case PCAP_ERROR_IFACE_NOT_UP:
        return QStringLiteral("The adapter %1 is not up: %2").arg(device, detail);
    default:
        return openFailed(device, detail);
    }
}

QString filterFailed(const QString& filter, const QString& reason)
{
    return QStringLiteral("The capture filter \"%1\" cannot be used: %2").arg(filter, reason);
}

} // namespace PcapErrors
