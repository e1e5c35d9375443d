// Building and sending the multipart blocks of one trigger (see multipart_frame.h).
#include "multipart_frame.h"

#include <cstring>
#include <new>

#include "main_class.h"
#include "pixel_format_table.h"
#include "point_conversion_rules.h"

namespace {

constexpr std::uint32_t kCoord3dAbc16 = pfnc::pixelFormatCode("Coord3D_ABC16");
constexpr std::uint32_t kCoord3dAbc32f = pfnc::pixelFormatCode("Coord3D_ABC32f");
constexpr std::uint32_t kMono16 = pfnc::pixelFormatCode("Mono16");
constexpr std::uint32_t kConfidence8 = pfnc::pixelFormatCode("Confidence8");

// Whether the Range part holds a measured point here, by the conversions' own rules: the sensor measured it
// and, for 16-bit coordinates, every coordinate fits; otherwise the Range part holds zeros there.
bool rangeMeasured(const double* point, bool sixteenBit, const AxisScaling& s) {
    if (!isMeasured(point[2])) return false;
    if (!sixteenBit) return true;
    for (int axis = 0; axis < 3; ++axis) {
        if (!fitsUnsigned16((point[axis] - s.offset[axis]) / s.scale[axis])) return false;
    }
    return true;
}

}  // namespace

std::uint64_t MultipartChoice::partBytes(std::size_t pixels, const FrameFormat& range) const {
    std::uint64_t perPixel = 0;
    if (enabled[kRangeComponent]) perPixel += static_cast<std::uint64_t>(range.bytesPerPixel);
    if (enabled[kIntensityComponent]) perPixel += 2;
    if (enabled[kConfidenceComponent]) perPixel += 1;
    return perPixel * pixels;
}

MultipartChoice chooseMultipart(CMainClass& bridge, const FrameFormat* format) {
    MultipartChoice choice;
    std::lock_guard<std::mutex> lock(bridge.stateMutex);
    if (bridge.multiPartMode != kMultiPartSynchronizedComponents || format == nullptr ||
        format->sending != FrameSending::PointCloud)
        return choice;
    for (std::size_t c = 0; c < kComponentCount; ++c) {
        choice.enabled[c] = bridge.componentEnabled[c];
        if (choice.enabled[c]) ++choice.partCount;
    }
    choice.active = choice.partCount > 0;
    return choice;
}

void applyMultipartLayout(CMainClass& bridge) {
    std::string formatName;
    {
        std::lock_guard<std::mutex> lock(bridge.stateMutex);
        formatName = bridge.pixelFormat;
    }
    const FrameFormat* format = findFrameFormat(formatName);
    const MultipartChoice choice = chooseMultipart(bridge, format);
    if (!choice.active) {
        bridge.camera->setMultipartLayout(0, 0, 0);
        return;
    }
    const int width = bridge.camera->getWidth(0);
    const int height = bridge.camera->getHeight(0);
    const std::size_t pixels = width > 0 && height > 0 ? static_cast<std::size_t>(width) * height : 0;
    bridge.camera->setMultipartLayout(choice.partBytes(pixels, *format), choice.partCount, 0);
}

bool MultipartFrame::allocate(std::size_t pixels) {
    confidence_.reset(new (std::nothrow) std::uint8_t[pixels]);
    return confidence_ != nullptr;
}

int MultipartFrame::send(CMainClass& bridge, const MultipartChoice& choice, const FrameFormat& format, int width,
                         int height, bool noData, const std::uint8_t* range, const double* points,
                         std::uint16_t* mono) {
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    const bool sixteenBit = format.build == FrameBuild::Convert16Bit;
    GevPart parts[kComponentCount];
    int count = 0;
    if (choice.enabled[kRangeComponent]) {
        parts[count++] = GevPart{range,
                                 pixels * static_cast<std::size_t>(format.bytesPerPixel),
                                 sixteenBit ? kCoord3dAbc16 : kCoord3dAbc32f,
                                 w,
                                 h,
                                 GevPart3DImage,
                                 kComponents[kRangeComponent].id};
    }
    if (choice.enabled[kIntensityComponent]) {
        // A cycle without data sends zeros, as the single-part frames do.
        if (noData) std::memset(mono, 0, pixels * 2);
        parts[count++] = GevPart{mono, pixels * 2, kMono16, w, h, GevPart2DImage, kComponents[kIntensityComponent].id};
    }
    if (choice.enabled[kConfidenceComponent]) {
        const AxisScaling axes = frameScaling(bridge);
        std::uint8_t* confidence = confidence_.get();
        for (std::size_t i = 0; i < pixels; ++i)
            confidence[i] = !noData && rangeMeasured(points + 3 * i, sixteenBit, axes) ? 255 : 0;
        parts[count++] =
            GevPart{confidence, pixels, kConfidence8, w, h, GevPartConfidenceMap, kComponents[kConfidenceComponent].id};
    }
    return bridge.camera->sendMultipart(parts, count, 0);
}
