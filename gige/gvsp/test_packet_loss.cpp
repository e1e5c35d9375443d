// The process-wide packet-loss setting of the test seam.
#include "test_packet_loss.h"

#include <atomic>

namespace gvsp {

namespace {
std::atomic<double> dropRatio{0.0};
}

void setTestPacketDropRatio(double ratio) { dropRatio.store(ratio); }

double testPacketDropRatio() { return dropRatio.load(); }

}  // namespace gvsp
