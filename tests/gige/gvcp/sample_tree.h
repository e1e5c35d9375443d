// A feature tree shaped like the one the bridge declares (categories, features of every type, selectors,
// invalidators, computed IntSwissKnife nodes, a chunk feature, replaced literal limits), made only through
// the public CGevCamera interface. Tests and benchmarks use it as a realistic declaration load.
#pragma once

#include "gev_camera.h"

namespace gvcp_test {

void declareSampleTree(CGevCamera& camera);

// Names of the ten selector entries of PropertySelector, used to check the XML.
constexpr int kPropertyEntries = 10;

}  // namespace gvcp_test
