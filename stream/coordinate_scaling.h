// The scale and offset of the three coordinate axes: what the device advertises for a pixel format
// (Scan3dCoordinateScale and Scan3dCoordinateOffset), and one frame's copy of it, which the point-cloud
// conversions and the Confidence part apply. A pixel coordinate is (millimetres - offset) / scale.
#pragma once

class CMainClass;
struct FrameFormat;

// One frame's per-axis offset and scale, widened to double.
struct AxisScaling {
    double offset[3];
    double scale[3];
};

// What the coordinate records say for `format`: a 16-bit format maps each axis's measuring range onto
// 0..65535 (the sensor's 16-bit scales, offsets at the lower end of the range); every other format carries
// millimetres as they are (scale 1, offset 0). The caller holds the bridge's state lock.
AxisScaling advertisedScaling(const CMainClass& bridge, const FrameFormat* format);

// The coordinate records' scaling now, taken under the state lock: a PixelFormat write during a conversion
// applies from the next frame on instead of changing the scaling part-way through this one.
AxisScaling frameScaling(CMainClass& bridge);
