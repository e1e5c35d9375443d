// Windows side of the host interfaces: listing them with their MAC addresses (IP Helper), and adding an
// address.
#include "net/host_interfaces.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <cstring>

#include "net/udp_socket.h"

namespace gige {

std::vector<HostInterface> listHostInterfaces() {
    std::vector<HostInterface> result;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        status =
            GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                 nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (status != NO_ERROR) return result;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        HostInterface item;
        // Every IPv4 address of the adapter: one added by this program follows the adapter's own.
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            if (unicast->Address.lpSockaddr == nullptr || unicast->Address.lpSockaddr->sa_family != AF_INET) continue;
            HostAddress held;
            held.address = ntohl(reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr)->sin_addr.s_addr);
            const UINT8 prefix = unicast->OnLinkPrefixLength;
            held.mask = prefix == 0 ? 0 : (prefix >= 32 ? 0xFFFFFFFFU : ~(0xFFFFFFFFU >> prefix));
            item.addresses.push_back(held);
        }
        if (item.addresses.empty()) continue;
        item.name = adapter->AdapterName;
        item.index = adapter->IfIndex;
        item.address = item.addresses.front().address;
        item.mask = item.addresses.front().mask;
        if (adapter->PhysicalAddressLength == 6) std::memcpy(item.mac.data(), adapter->PhysicalAddress, 6);
        result.push_back(item);
    }
    return result;
}

bool addHostAddress(std::uint32_t address, std::uint32_t mask, std::uint32_t gateway, std::string& error) {
    HostInterface chosen;
    if (!chooseInterfaceForNewAddress(address, mask, chosen, error)) return false;
    NET_LUID luid{};
    if (ConvertInterfaceIndexToLuid(chosen.index, &luid) != NO_ERROR) {
        error = "cannot find interface " + chosen.name;
        return false;
    }
    MIB_UNICASTIPADDRESS_ROW row;
    InitializeUnicastIpAddressEntry(&row);
    row.Address.Ipv4.sin_family = AF_INET;
    row.Address.Ipv4.sin_addr.s_addr = htonl(address);
    row.InterfaceLuid = luid;
    row.OnLinkPrefixLength = static_cast<UINT8>(prefixLength(mask));
    DWORD result = CreateUnicastIpAddressEntry(&row);
    if (result != NO_ERROR) {
        error = "cannot add " + formatAddress(address) + " (error " + std::to_string(result) + ")" +
                (result == ERROR_ACCESS_DENIED ? ": administrator rights are needed" : "");
        return false;
    }
    if (gateway == 0) return true;
    MIB_IPFORWARD_ROW2 route;
    InitializeIpForwardEntry(&route);
    route.InterfaceLuid = luid;
    route.DestinationPrefix.Prefix.Ipv4.sin_family = AF_INET;
    route.DestinationPrefix.PrefixLength = 0;
    route.NextHop.Ipv4.sin_family = AF_INET;
    route.NextHop.Ipv4.sin_addr.s_addr = htonl(gateway);
    result = CreateIpForwardEntry2(&route);
    if (result != NO_ERROR) {
        error = "added " + formatAddress(address) + " but cannot add the route via " + formatAddress(gateway) +
                " (error " + std::to_string(result) + ")";
        return false;
    }
    return true;
}

bool removeHostAddress(std::uint32_t address, std::uint32_t mask, std::string& error) {
    HostInterface holder;
    NET_LUID luid{};
    if (!findHostInterface(address, holder) || ConvertInterfaceIndexToLuid(holder.index, &luid) != NO_ERROR) {
        error = formatAddress(address) + " is on no interface any more";
        return false;
    }
    MIB_UNICASTIPADDRESS_ROW row;
    InitializeUnicastIpAddressEntry(&row);
    row.Address.Ipv4.sin_family = AF_INET;
    row.Address.Ipv4.sin_addr.s_addr = htonl(address);
    row.InterfaceLuid = luid;
    row.OnLinkPrefixLength = static_cast<UINT8>(prefixLength(mask));
    const DWORD result = DeleteUnicastIpAddressEntry(&row);
    if (result != NO_ERROR) {
        error = "cannot remove " + formatAddress(address) + " (error " + std::to_string(result) + ")";
        return false;
    }
    return true;
}

}  // namespace gige
