#pragma once

// Which of the devices libpcap lists are network adapters: the window lists only these and the
// capture helper opens only these. Plain C++: the helper knows no Qt.

#include <string_view>

namespace AdapterRule {

// Devices that carry no IP traffic (Bluetooth, D-Bus, netfilter queues and logs, USB monitors)
// cannot take a "port N" filter, and capturing on them would reach beyond the network.
inline bool isNetworkAdapter(std::string_view name)
{
    static constexpr std::string_view others[] = {"bluetooth", "dbus", "nflog", "nfqueue",
                                                  "usbmon"};
    for (const std::string_view prefix : others) {
        if (name.substr(0, prefix.size()) == prefix)
            return false;
    }
    return !name.empty();
}

} // namespace AdapterRule
