#include "net/host_interfaces.h"

namespace gige {

bool findHostInterface(std::uint32_t address, HostInterface& out) {
    for (const auto& candidate : listHostInterfaces()) {
        if (candidate.address == address) {
            out = candidate;
            return true;
        }
    }
    return false;
}

int interfaceForNewAddress(const std::vector<HostInterface>& interfaces, std::uint32_t address, std::uint32_t mask) {
    for (std::size_t i = 0; i < interfaces.size(); ++i) {
        if ((interfaces[i].address & mask) == (address & mask)) return static_cast<int>(i);
    }
    return interfaces.empty() ? -1 : 0;
}

}  // namespace gige
