// A test seam of the device library: makes the stream channels created afterwards drop a share of the
// payload packets they send the first time, so that tests can prove packet resend end to end. Only tests
// call it; the shipped program never does, and nothing outside the process can turn it on.
#pragma once

namespace gvsp {

// `ratio`: 0 (the default, nothing dropped) to 0.5. Applies to stream channels made after the call.
void setTestPacketDropRatio(double ratio);
double testPacketDropRatio();

}  // namespace gvsp
