// The OS-independent part of the host interface helpers: finding the interface that holds an address or faces a
// peer, and choosing where a new address goes.
#include "net/host_interfaces.h"

#include "net/udp_socket.h"

namespace gige {

bool HostInterface::holds(std::uint32_t candidate) const {
    for (const auto& entry : addresses) {
        if (entry.address == candidate) return true;
    }
    return false;
}

bool HostInterface::faces(std::uint32_t peer) const {
    for (const auto& entry : addresses) {
        if ((entry.address & entry.mask) == (peer & entry.mask)) return true;
    }
    return false;
}

bool findHostInterface(std::uint32_t address, HostInterface& out) {
    for (const auto& candidate : listHostInterfaces()) {
        if (candidate.holds(address)) {
            out = candidate;
            return true;
        }
    }
    return false;
}

bool findInterfaceForPeer(std::uint32_t peer, HostInterface& out) {
    for (const auto& candidate : listHostInterfaces()) {
        if (candidate.faces(peer)) {
            out = candidate;
            return true;
        }
    }
    return false;
}

int interfaceForNewAddress(const std::vector<HostInterface>& interfaces, std::uint32_t address, std::uint32_t mask) {
    for (std::size_t i = 0; i < interfaces.size(); ++i) {
        for (const auto& entry : interfaces[i].addresses) {
            if ((entry.address & mask) == (address & mask)) return static_cast<int>(i);
        }
    }
    return interfaces.empty() ? -1 : 0;
}

bool chooseInterfaceForNewAddress(std::uint32_t address, std::uint32_t mask, HostInterface& out, std::string& error) {
    const auto interfaces = listHostInterfaces();
    const int chosen = interfaceForNewAddress(interfaces, address, mask);
    if (chosen < 0) {
        error = "no network interface with an IPv4 address to add " + formatAddress(address) + " to";
        return false;
    }
    out = interfaces[static_cast<std::size_t>(chosen)];
    return true;
}

int prefixLength(std::uint32_t mask) {
    int length = 0;
    while (length < 32 && (mask & (0x80000000U >> length)) != 0) ++length;
    return length;
}

}  // namespace gige
