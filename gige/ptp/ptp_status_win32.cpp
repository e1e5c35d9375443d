// Windows: there is no ptp4l to ask, so the host's PTP is always reported disabled.
#include <cstdlib>

#include "ptp/ptp_status.h"

namespace ptp {

std::string ptp4lSocketPath() {
    const char* chosen = std::getenv("PTP4L_SOCKET");
    return chosen != nullptr && chosen[0] != '\0' ? chosen : "/var/run/ptp4l";
}

PtpSnapshot queryPtp4l(const std::string&, int) { return {}; }

}  // namespace ptp
