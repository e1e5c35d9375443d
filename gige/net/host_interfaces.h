// The host's IPv4 interfaces and the adding of an address to one of them (one file per OS behind this header).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace gige {

struct HostAddress {
    std::uint32_t address = 0;  // host order
    std::uint32_t mask = 0;
};

struct HostInterface {
    std::string name;
    unsigned index = 0;         // the system's interface index
    std::uint32_t address = 0;  // the interface's main (first) IPv4 address, host order
    std::uint32_t mask = 0;
    // Every IPv4 address of the interface, the main one first: one added at run time is never the main one.
    std::vector<HostAddress> addresses;
    std::array<std::uint8_t, 6> mac{};

    bool holds(std::uint32_t candidate) const;
    // Whether `peer` is on the network of one of the interface's addresses.
    bool faces(std::uint32_t peer) const;
};

// Interfaces that carry an IPv4 address, one entry each (named by its first address), in the system's order.
std::vector<HostInterface> listHostInterfaces();

// The interface that holds `address` among all its addresses; false when none does.
bool findHostInterface(std::uint32_t address, HostInterface& out);

// The interface whose network holds `peer` (the first such, in the system's order); false when none does.
bool findInterfaceForPeer(std::uint32_t peer, HostInterface& out);

// Adds `address`/`mask` to the interface holding an address of the same network, else to the first one;
// a non-zero gateway also adds a default route. Needs administrator rights. False with `error` set on
// failure.
bool addHostAddress(std::uint32_t address, std::uint32_t mask, std::uint32_t gateway, std::string& error);

// Takes an address that addHostAddress added off its interface again. False with `error` set on failure.
bool removeHostAddress(std::uint32_t address, std::uint32_t mask, std::string& error);

// The interface addHostAddress would pick (index into `interfaces`), -1 when there is none.
int interfaceForNewAddress(const std::vector<HostInterface>& interfaces, std::uint32_t address, std::uint32_t mask);
// The same choice among the host's interfaces; false with `error` set when the host has none.
bool chooseInterfaceForNewAddress(std::uint32_t address, std::uint32_t mask, HostInterface& out, std::string& error);
// Number of leading one bits of a network mask.
int prefixLength(std::uint32_t mask);

}  // namespace gige
