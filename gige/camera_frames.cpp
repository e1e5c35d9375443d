// Image format and frame operations of the camera. A frame is built and sent on the caller's thread: the
// camera lock is held only while the frame's geometry is read from the features, never while packets leave.
#include "camera.h"

#include <cstdio>

#include "gvcp/protocol.h"
#include "gvsp/pixel_formats.h"

namespace gige {

gvsp::ImageSettings Camera::imageSettings() {
    std::lock_guard lock(mutex_);
    // A client's write is stored before the program is asked whether it takes it, and taken back when it
    // does not: until the answer, frames are described as they were before the write, so that a refused
    // PixelFormat written while streaming never describes a frame with a format it was not built in.
    if (heldImage_) return *heldImage_;
    return imageSettingsLocked();
}

gvsp::ImageSettings Camera::imageSettingsLocked() {
    std::int64_t width = 0, height = 0, offsetX = 0, offsetY = 0, format = 0, payload = 0;
    store_.getInt("Width", width);
    store_.getInt("Height", height);
    store_.getInt("OffsetX", offsetX);
    store_.getInt("OffsetY", offsetY);
    store_.getInt("PixelFormat", format);
    store_.getInt("PayloadSize", payload);
    gvsp::ImageSettings image;
    image.width = static_cast<std::uint32_t>(width);
    image.height = static_cast<std::uint32_t>(height);
    image.offsetX = static_cast<std::uint32_t>(offsetX);
    image.offsetY = static_cast<std::uint32_t>(offsetY);
    image.pixelFormat = static_cast<std::uint32_t>(format);
    image.payloadSize = static_cast<std::uint64_t>(payload);
    return image;
}

int Camera::beginFrame(int stream) {
    if (stream == 0) {
        std::lock_guard lock(mutex_);
        frameTimestampGiven_ = false;
    }
    return frames_.beginFrame(stream);
}

void Camera::setFrameTimestamp(std::uint64_t ticks, int stream) {
    if (stream != 0) return;
    std::lock_guard lock(mutex_);
    frameTimestamp_ = ticks;
    frameTimestampGiven_ = true;
}

std::uint64_t Camera::blockTimestamp() {
    {
        std::lock_guard lock(mutex_);
        if (frameTimestampGiven_) {
            frameTimestampGiven_ = false;
            return frameTimestamp_;
        }
    }
    return timestampTicks();
}

void Camera::abortFrame(int stream) {
    if (stream == 0) channel_.abortFrame();
}

int Camera::addChunkData(const void*, const void* data, std::uint32_t length, std::uint32_t chunkId, int stream) {
    // With chunk mode off the frames carry no chunk data at all: the chunk values are left out.
    if (data != nullptr && !chunkModeActive()) return 0;
    return frames_.addChunkData(data, length, chunkId, stream);
}

bool Camera::chunkModeActive() {
    std::int64_t active = 0;
    std::lock_guard lock(mutex_);
    return store_.getInt("ChunkModeActive", active) && active != 0;
}

int Camera::sendImage(const void* frame, std::int64_t byteCount, int stream) {
    const gvsp::ImageSettings image = imageSettings();
    return reportRefusal(frames_.sendImage(frame, byteCount, stream, image, blockTimestamp()));
}

int Camera::sendPointCloud(const void* frame, std::int64_t pointCount, int stream) {
    const gvsp::ImageSettings image = imageSettings();
    return reportRefusal(frames_.sendPointCloud(frame, pointCount, stream, image, blockTimestamp()));
}

bool Camera::setMultipartOffered(bool offered) {
    std::lock_guard lock(mutex_);
    if (!declarable()) return false;
    multipartOffered_ = offered;
    setChannelRegister(gvsp::RegCapability,
                       gvsp::kCapabilityExtendedChunk | (offered ? gvsp::kCapabilityMultipart : 0));
    // Multipart blocks came with version 2.1 of the protocol.
    bootstrap_.setWord(gvcp::reg::kVersion, offered ? 0x00020001 : 0x00020000);
    return true;
}

bool Camera::setMultipartLayout(std::uint64_t partBytes, int partCount, int stream) {
    if (stream != 0 || partCount < 0 || partCount >= static_cast<int>(gvsp::kMaxParts)) return false;
    std::lock_guard lock(mutex_);
    multipartBytes_ = partCount > 0 ? partBytes : 0;
    multipartParts_ = partCount;
    updatePayloadSize();
    return true;
}

bool Camera::multipartBlocksLocked() const {
    return multipartParts_ > 0 && (channelRegister(gvsp::RegConfig) & gvsp::kConfigMultipart) != 0 &&
           (bootstrap_.word(gvcp::reg::kGvspConfiguration) & gvsp::kGvspConfigExtendedIds) != 0;
}

bool Camera::multipartActive(int stream) {
    std::lock_guard lock(mutex_);
    return stream == 0 && multipartBlocksLocked();
}

int Camera::sendMultipart(const GevPart* parts, int partCount, int stream) {
    if (parts == nullptr || partCount <= 0 || partCount >= static_cast<int>(gvsp::kMaxParts))
        return reportRefusal(gvsp::FrameInvalid);
    gvsp::ImageSettings image;
    bool multipart = false;
    {
        // The block's kind and the PayloadSize it must fit are read together, so that they agree.
        std::lock_guard lock(mutex_);
        image = heldImage_ ? *heldImage_ : imageSettingsLocked();
        multipart = multipartBlocksLocked();
    }
    return reportRefusal(frames_.sendMultipart(parts, static_cast<std::uint32_t>(partCount), stream, image,
                                               blockTimestamp(), multipart));
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
    // Enabling the first chunk turns chunk mode on and disabling the last turns it off; in between the
    // client's ChunkModeActive decides whether frames carry the chunks.
    if ((chunkCount_ == 0) != (chunkCount == 0)) store_.setInt("ChunkModeActive", chunkCount > 0 ? 1 : 0);
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
    std::int64_t chunkMode = 0;
    store_.getInt("ChunkModeActive", chunkMode);
    const bool chunks = chunkMode != 0;
    if (multipartBlocksLocked()) {
        // The image parts, then the chunk part: every chunk's value and tail.
        const std::uint64_t chunkPart = chunks ? chunkBytes_ + std::uint64_t{gvsp::kChunkTailSize} * chunkCount_ : 0;
        store_.setInt("PayloadSize", static_cast<std::int64_t>(multipartBytes_ + chunkPart));
        return;
    }
    const std::uint64_t size =
        gvsp::payloadSize(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                          static_cast<std::uint32_t>(format), chunks ? chunkBytes_ : 0, chunks ? chunkCount_ : 0);
    store_.setInt("PayloadSize", static_cast<std::int64_t>(size));
}

}  // namespace gige
