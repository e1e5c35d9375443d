// Image format and frame operations of the camera. The frame operations need the stream channel, which
// this build does not contain yet: they refuse every frame with a clear message instead of pretending.
#include "camera.h"

#include <cstdio>

#include "gvsp/pixel_formats.h"

namespace gige {

namespace {
int refuseFrame(std::atomic<bool>& reported) {
    if (!reported.exchange(true))
        std::fprintf(stderr, "ERROR: this build of the GigE library has no stream channel; frames are not sent\n");
    return 1;
}
}  // namespace

int Camera::beginFrame(int) { return refuseFrame(streamUnavailableReported_); }
int Camera::sendImage(const void*, std::int64_t, int) { return refuseFrame(streamUnavailableReported_); }
int Camera::sendPointCloud(const void*, std::int64_t, int) { return refuseFrame(streamUnavailableReported_); }
int Camera::addChunkData(const void*, const void*, std::uint32_t, std::uint32_t, int) {
    return refuseFrame(streamUnavailableReported_);
}

bool Camera::addPixelFormat(const char* name) {
    if (name == nullptr) return false;
    const auto* format = gvsp::findPixelFormat(std::string_view(name));
    std::lock_guard lock(mutex_);
    return format != nullptr && declarable() && store_.addEnumEntry("PixelFormat", name, format->code);
}

bool Camera::setImageSize(std::uint16_t width, std::uint16_t height, int stream) {
    if (stream != 0) return false;
    std::lock_guard lock(mutex_);
    store_.setInt("Width", width);
    store_.setInt("Height", height);
    updatePayloadSize();
    return true;
}

bool Camera::setImageOffset(std::uint16_t x, std::uint16_t y, int stream) {
    if (stream != 0) return false;
    std::lock_guard lock(mutex_);
    store_.setInt("OffsetX", x);
    store_.setInt("OffsetY", y);
    return true;
}

bool Camera::setChunkLayout(std::uint16_t chunkBytes, std::uint16_t chunkCount, int stream) {
    if (stream != 0) return false;
    std::lock_guard lock(mutex_);
    chunkBytes_ = chunkBytes;
    chunkCount_ = chunkCount;
    updatePayloadSize();
    return true;
}

int Camera::getWidth(int stream) {
    std::int64_t value = 0;
    std::lock_guard lock(mutex_);
    return stream == 0 && store_.getInt("Width", value) ? static_cast<int>(value) : -1;
}

int Camera::getHeight(int stream) {
    std::int64_t value = 0;
    std::lock_guard lock(mutex_);
    return stream == 0 && store_.getInt("Height", value) ? static_cast<int>(value) : -1;
}

const char* Camera::getPixelFormatName(int value) {
    // The table's names are string literals, so the text outlives every camera.
    const auto* format = gvsp::findPixelFormat(static_cast<std::uint32_t>(value));
    return format == nullptr ? "" : format->name.data();
}

void Camera::updatePayloadSize() {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t format = 0;
    store_.getInt("Width", width);
    store_.getInt("Height", height);
    store_.getInt("PixelFormat", format);
    const std::uint64_t size = gvsp::payloadSize(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                                                 static_cast<std::uint32_t>(format), chunkBytes_, chunkCount_);
    store_.setInt("PayloadSize", static_cast<std::int64_t>(size));
}

}  // namespace gige
