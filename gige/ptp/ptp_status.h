// What the host's ptp4l says about the host clock, asked through its management socket. The device does not
// run PTP itself: its timestamps count the host's real-time clock, which ptp4l (with phc2sys, or another time
// service) keeps on the cell's common time base. One file per OS: on Windows there is no ptp4l to ask.
#pragma once

#include <cstdint>
#include <string>

#include "ptp/ptp_management.h"

namespace ptp {

// How long one query may wait for ptp4l in all: it runs on the control thread, which answers clients.
constexpr int kQueryTimeoutMs = 100;

struct PtpSnapshot {
    bool answered = false;  // a ptp4l answered every question
    PortState portState = PortState::Disabled;
    // ptp4l moves a port to the slave state only once its servo has locked to the master.
    bool servoLocked = false;
    std::int64_t offsetFromMasterNs = 0;
};

// The socket ptp4l listens on: PTP4L_SOCKET when set (ptp4l's uds_address), else its default path.
std::string ptp4lSocketPath();

// Asks the ptp4l at `socketPath`; a snapshot that is not `answered` (state Disabled) when none answers
// within `timeoutMs`.
PtpSnapshot queryPtp4l(const std::string& socketPath, int timeoutMs);

}  // namespace ptp
