// The frame operations of the camera for one stream channel: beginFrame, addChunkData, sendImage and
// sendPointCloud, run on the caller's thread. The camera supplies what its features say at the moment of
// the send (image size, offsets, pixel format, PayloadSize) and the device clock's timestamp.
#pragma once

#include "frame_parts.h"
#include "stream_sender.h"

#include <cstdint>
#include <mutex>

namespace gvsp {

struct ImageSettings {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t offsetX = 0;
    std::uint32_t offsetY = 0;
    std::uint32_t pixelFormat = 0;
    std::uint64_t payloadSize = 0;  // what a client allocates per frame (the PayloadSize feature)
};

// Results of the frame operations: 0 when the frame went out or was dropped because no client receives
// the stream; otherwise why it was refused. Nothing is ever sent truncated as if it were complete.
enum FrameResult : int {
    FrameOk = 0,
    FrameNoSuchStream = 1,
    FrameTooLarge = 2,       // more than PayloadSize: the client's buffer could not hold it
    FrameSizeMismatch = 3,   // the image part is not width x height pixels of the current format
    FrameInvalid = 4,        // null frame, negative count, or a chunk that does not fit the layout
    FrameNetworkFailed = 5,  // the socket refused a packet or blocked longer than the send limit
};

class FrameSender {
public:
    explicit FrameSender(StreamSender& channel) : channel_(channel) {}

    int beginFrame(int stream);
    int addChunkData(const void* data, std::uint32_t length, std::uint32_t chunkId, int stream);
    // `byteCount`: bytes of image data in `frame`, 0 to take the declared image part or width x height
    // pixels of the current format.
    int sendImage(const void* frame, std::int64_t byteCount, int stream, const ImageSettings& image,
                  std::uint64_t timestamp);
    int sendPointCloud(const void* frame, std::int64_t pointCount, int stream, const ImageSettings& image,
                       std::uint64_t timestamp);
    // The parts of one trigger as one multipart block, the chunks added since beginFrame in a chunk part at
    // its end. Every part must be exactly width x height pixels of its format. Unless `multipart` (the block
    // kind PayloadSize describes), or when the channel turns out not to take multipart blocks, the part that
    // `image` describes goes out alone as an image block with the chunks; without one the frame is refused.
    int sendMultipart(const GevPart* parts, std::uint32_t count, int stream, const ImageSettings& image,
                      std::uint64_t timestamp, bool multipart);

private:
    int send(const void* frame, std::uint64_t imageBytes, const ImageSettings& image, std::uint64_t timestamp);
    static int result(SendOutcome outcome);

    StreamSender& channel_;
    std::mutex mutex_;
    FrameParts parts_;
    ComposedPayload payload_;
};

}  // namespace gvsp
