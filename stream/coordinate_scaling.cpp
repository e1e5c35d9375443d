// The advertised coordinate scaling and a frame's copy of it (see coordinate_scaling.h).
#include "coordinate_scaling.h"

#include <mutex>

#include "frame_formats.h"
#include "main_class.h"

AxisScaling advertisedScaling(const CMainClass& bridge, const FrameFormat* format) {
    const bool sixteenBit = format != nullptr && format->build == FrameBuild::Convert16Bit;
    if (!sixteenBit) return AxisScaling{{0.0, 0.0, 0.0}, {1.0, 1.0, 1.0}};
    return AxisScaling{{-0.5 * bridge.measuringRangeX, -0.5 * bridge.measuringRangeY, bridge.workingRangeZStart},
                       {bridge.scale16X, bridge.scale16Y, bridge.scale16Z}};
}

AxisScaling frameScaling(CMainClass& bridge) {
    std::lock_guard<std::mutex> lock(bridge.stateMutex);
    AxisScaling scaling{};
    for (int axis = 0; axis < 3; ++axis) {
        scaling.offset[axis] = static_cast<double>(bridge.coordinates[axis].offset);
        scaling.scale[axis] = static_cast<double>(bridge.coordinates[axis].scale);
    }
    return scaling;
}
