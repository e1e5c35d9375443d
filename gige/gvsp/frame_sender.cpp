// The camera's frame operations: checks of a frame against the current image settings, then the send.
#include "frame_sender.h"

#include "pixel_formats.h"

namespace gvsp {

int FrameSender::beginFrame(int stream) {
    if (stream != 0) return FrameNoSuchStream;
    std::lock_guard<std::mutex> lock(mutex_);
    parts_.begin();
    return FrameOk;
}

int FrameSender::addChunkData(const void* data, std::uint32_t length, std::uint32_t chunkId, int stream) {
    if (stream != 0) return FrameNoSuchStream;
    std::lock_guard<std::mutex> lock(mutex_);
    return parts_.add(data, length, chunkId) == 0 ? FrameOk : FrameInvalid;
}

int FrameSender::sendImage(const void* frame, std::int64_t byteCount, int stream, const ImageSettings& image,
                           std::uint64_t timestamp) {
    if (stream != 0) return FrameNoSuchStream;
    if (byteCount < 0) return FrameInvalid;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t imageSize = std::uint64_t{image.width} * image.height * bytesPerPixel(image.pixelFormat);
    std::uint64_t imageBytes = imageSize;
    if (parts_.imageDeclared()) {
        imageBytes = parts_.declaredImageBytes();
    } else if (byteCount > 0) {
        imageBytes = static_cast<std::uint64_t>(byteCount);
    }
    // The buffer holds byteCount bytes; a declared image part longer than that would be read past its end.
    if (byteCount > 0 && imageBytes > static_cast<std::uint64_t>(byteCount)) return FrameInvalid;
    return send(frame, imageBytes, image, timestamp);
}

int FrameSender::sendPointCloud(const void* frame, std::int64_t pointCount, int stream, const ImageSettings& image,
                                std::uint64_t timestamp) {
    if (stream != 0) return FrameNoSuchStream;
    if (pointCount < 0) return FrameInvalid;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!isCoordinateFormat(image.pixelFormat)) return FrameSizeMismatch;
    const std::uint64_t imageBytes = static_cast<std::uint64_t>(pointCount) * bytesPerPixel(image.pixelFormat);
    if (parts_.imageDeclared() && parts_.declaredImageBytes() != imageBytes) return FrameSizeMismatch;
    return send(frame, imageBytes, image, timestamp);
}

int FrameSender::send(const void* frame, std::uint64_t imageBytes, const ImageSettings& image,
                      std::uint64_t timestamp) {
    // The leader tells the client width, height and format; data of another size would be misread.
    const std::uint64_t imageSize = std::uint64_t{image.width} * image.height * bytesPerPixel(image.pixelFormat);
    if (imageBytes != imageSize) return FrameSizeMismatch;
    if (frame == nullptr && imageBytes != 0) return FrameInvalid;
    if (!parts_.compose(frame, imageBytes, &payload_)) return FrameTooLarge;
    if (payload_.totalBytes > image.payloadSize) return FrameTooLarge;

    LeaderFields leader;
    leader.timestamp = timestamp;
    leader.pixelFormat = image.pixelFormat;
    leader.width = image.width;
    leader.height = image.height;
    leader.offsetX = image.offsetX;
    leader.offsetY = image.offsetY;
    return result(channel_.send(leader, payload_));
}

int FrameSender::result(SendOutcome outcome) {
    switch (outcome) {
        case SendOutcome::Sent:
        case SendOutcome::NoDestination:
        case SendOutcome::Stopped: return FrameOk;
        case SendOutcome::TooManyPackets: return FrameTooLarge;
        case SendOutcome::MultipartOff: return FrameInvalid;
        case SendOutcome::NetworkFailed: break;
    }
    return FrameNetworkFailed;
}

int FrameSender::sendMultipart(const GevPart* parts, std::uint32_t count, int stream, const ImageSettings& image,
                               std::uint64_t timestamp, bool multipart) {
    if (stream != 0) return FrameNoSuchStream;
    // One record stays free for the chunk part.
    if (parts == nullptr || count == 0 || count >= kMaxParts) return FrameInvalid;
    std::lock_guard<std::mutex> lock(mutex_);
    MultipartBlock block;
    block.timestamp = timestamp;
    block.offsetX = image.offsetX;
    block.offsetY = image.offsetY;
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const GevPart& part = parts[i];
        if (part.data == nullptr || part.length == 0) return FrameInvalid;
        // The record tells the client the part's shape; bytes of another size would be misread.
        const std::uint64_t expected = std::uint64_t{part.width} * part.height * bytesPerPixel(part.pixelFormat);
        if (part.length != expected) return FrameSizeMismatch;
        block.parts[i] = part;
        total += part.length;
    }
    block.partCount = count;
    std::uint32_t layoutId = 0;
    const Span chunks = parts_.composeChunkPart(&layoutId);
    if (chunks.length > 0) {
        block.chunkDataLength = static_cast<std::uint32_t>(chunks.length);
        block.chunkLayoutId = layoutId;
        GevPart& chunkPart = block.parts[block.partCount++];
        chunkPart = GevPart{};
        chunkPart.data = chunks.data;
        chunkPart.length = chunks.length;
        chunkPart.dataType = GevPartChunkData;
        block.payloadType = PayloadMultipartWithChunks;
        total += chunks.length;
    }
    if (multipart) {
        if (total > image.payloadSize) return FrameTooLarge;
        const SendOutcome outcome = channel_.sendMultipart(block);
        if (outcome != SendOutcome::MultipartOff) return result(outcome);
    }

    // A single-part block is what PixelFormat, Width, Height and PayloadSize describe: the part in that format
    // and size, as sendImage would send it.
    for (std::uint32_t i = 0; i < count; ++i) {
        const GevPart& part = parts[i];
        if (part.pixelFormat == image.pixelFormat && part.width == image.width && part.height == image.height)
            return send(part.data, part.length, image, timestamp);
    }
    return FrameSizeMismatch;
}

}  // namespace gvsp
