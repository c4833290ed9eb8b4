#include "storeshortage.h"

#include <QDir>

#include <sys/resource.h>

namespace {

// "150 MB (ulimit -f)", or the file system's own largest file.
QString fileSizeLimit()
{
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return QStringLiteral("the largest file its file system can hold");
    return QStringLiteral("the file-size limit of this program, %1 MB (ulimit -f)")
        .arg(double(limit.rlim_cur) / 1e6, 0, 'f', 1);
}

} // namespace

QString storeShortageMessage(StoreShortage shortage, const QString& folder, qsizetype packets)
{
    const QString place = QDir::toNativeSeparators(folder);
    // What is kept, and how to get it out and the room back.
    const auto kept = [packets](const char* room) {
        return QStringLiteral("The list holds %1 packets; Save Log to another place writes them "
                              "all, and Clear List gives the %2 back.")
            .arg(packets)
            .arg(QLatin1StringView(room));
    };
    switch (shortage) {
    case StoreShortage::Disk:
        return QStringLiteral("Capture stopped because the disk is full: the list is held in %1, "
                              "and what is left there (5 % of that disk, at most 1 GiB) stays "
                              "free for everything else. ")
                   .arg(place) +
               kept("space");
    case StoreShortage::FileSize:
        return QStringLiteral("Capture stopped because the list's file in %1 reached %2. ")
                   .arg(place, fileSizeLimit()) +
               kept("space");
    case StoreShortage::Io:
        return QStringLiteral("Capture stopped because the disk holding the list (in %1) "
                              "reported an input/output error. ")
                   .arg(place) +
               kept("space");
    case StoreShortage::AddressSpace:
        return QStringLiteral("Capture stopped because the program has no address space left "
                              "to map more of the list (its limit, ulimit -v, or the system's "
                              "limit on mappings), though memory may be free. ") +
               kept("address space");
    case StoreShortage::Rows:
        return QStringLiteral("Capture stopped because the list is full. The list holds %1 "
                              "packets, as many as it can count; Save Log writes them all, and "
                              "Clear List empties it.")
            .arg(packets);
    case StoreShortage::Memory:
    case StoreShortage::None:
        break;
    }
    return QStringLiteral("Capture stopped because memory is full. The list holds %1 packets; "
                          "Save Log writes them all, and Clear List gives the memory back.")
        .arg(packets);
}
