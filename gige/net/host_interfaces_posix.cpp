// Linux side of the host interfaces: listing them with their MAC addresses, and adding an address.
#include "net/host_interfaces.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/udp_socket.h"

namespace gige {

std::vector<HostInterface> listHostInterfaces() {
    std::vector<HostInterface> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return result;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        HostAddress held;
        held.address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
        if (entry->ifa_netmask != nullptr)
            held.mask = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
        // An interface appears once per address; its later addresses (an address this program added among
        // them) join the entry its first one made.
        HostInterface* known = nullptr;
        for (auto& existing : result) {
            if (existing.name == entry->ifa_name) known = &existing;
        }
        if (known == nullptr) {
            HostInterface item;
            item.name = entry->ifa_name;
            item.index = if_nametoindex(entry->ifa_name);
            item.address = held.address;
            item.mask = held.mask;
            result.push_back(item);
            known = &result.back();
        }
        known->addresses.push_back(held);
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        for (auto& item : result) {
            if (item.name == entry->ifa_name && link->sll_halen == 6) std::memcpy(item.mac.data(), link->sll_addr, 6);
        }
    }
    freeifaddrs(list);
    return result;
}

namespace {

struct NetlinkRequest {
    nlmsghdr header;
    union {
        ifaddrmsg address;
        rtmsg route;
    } body;
    char attributes[64];
};

void addAttribute(NetlinkRequest& request, unsigned short type, std::uint32_t value) {
    auto* attribute =
        reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) + NLMSG_ALIGN(request.header.nlmsg_len));
    attribute->rta_type = type;
    attribute->rta_len = RTA_LENGTH(sizeof value);
    std::memcpy(RTA_DATA(attribute), &value, sizeof value);
    request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

// Sends one request to the kernel's routing socket and returns its answer as an errno value (0: done).
int talkToKernel(NetlinkRequest& request) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return errno;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    int result = 0;
    if (sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
        result = errno;
    } else {
        char reply[512];
        const ssize_t size = recv(fd, reply, sizeof reply, 0);
        const auto* header = reinterpret_cast<const nlmsghdr*>(reply);
        if (size < 0)
            result = errno;
        else if (static_cast<std::size_t>(size) >= NLMSG_LENGTH(sizeof(nlmsgerr)) && header->nlmsg_type == NLMSG_ERROR)
            result = -static_cast<const nlmsgerr*>(NLMSG_DATA(header))->error;
    }
    close(fd);
    return result;
}

}  // namespace

bool addHostAddress(std::uint32_t address, std::uint32_t mask, std::uint32_t gateway, std::string& error) {
    HostInterface chosen;
    if (!chooseInterfaceForNewAddress(address, mask, chosen, error)) return false;
    const unsigned index = chosen.index;
    NetlinkRequest request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
    request.header.nlmsg_type = RTM_NEWADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_EXCL;
    request.body.address.ifa_family = AF_INET;
    request.body.address.ifa_prefixlen = static_cast<unsigned char>(prefixLength(mask));
    request.body.address.ifa_index = index;
    addAttribute(request, IFA_LOCAL, htonl(address));
    addAttribute(request, IFA_ADDRESS, htonl(address));
    int result = talkToKernel(request);
    if (result != 0) {
        error = "cannot add " + formatAddress(address) + " to " + chosen.name + ": " + std::strerror(result) +
                (result == EPERM ? " (administrator rights are needed)" : "");
        return false;
    }
    if (gateway == 0) return true;
    NetlinkRequest route{};
    route.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    route.header.nlmsg_type = RTM_NEWROUTE;
    route.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE;
    route.body.route.rtm_family = AF_INET;
    route.body.route.rtm_table = RT_TABLE_MAIN;
    route.body.route.rtm_protocol = RTPROT_STATIC;
    route.body.route.rtm_scope = RT_SCOPE_UNIVERSE;
    route.body.route.rtm_type = RTN_UNICAST;
    addAttribute(route, RTA_GATEWAY, htonl(gateway));
    addAttribute(route, RTA_OIF, index);
    result = talkToKernel(route);
    if (result != 0) {
        error = "added " + formatAddress(address) + " but cannot add the route via " + formatAddress(gateway) + ": " +
                std::strerror(result);
        return false;
    }
    return true;
}

bool removeHostAddress(std::uint32_t address, std::uint32_t mask, std::string& error) {
    HostInterface holder;
    if (!findHostInterface(address, holder)) {
        error = formatAddress(address) + " is on no interface any more";
        return false;
    }
    NetlinkRequest request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
    request.header.nlmsg_type = RTM_DELADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
    request.body.address.ifa_family = AF_INET;
    request.body.address.ifa_prefixlen = static_cast<unsigned char>(prefixLength(mask));
    request.body.address.ifa_index = holder.index;
    addAttribute(request, IFA_LOCAL, htonl(address));
    addAttribute(request, IFA_ADDRESS, htonl(address));
    const int result = talkToKernel(request);
    if (result != 0) {
        error = "cannot remove " + formatAddress(address) + " from " + holder.name + ": " + std::strerror(result);
        return false;
    }
    return true;
}

}  // namespace gige
