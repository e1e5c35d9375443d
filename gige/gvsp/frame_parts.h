// The parts of one frame between beginFrame and the send: the image part and the chunks added with
// addChunkData, composed into the payload that goes on the wire.
//
// Payload layout with chunks (extended chunk data): the image bytes, the image's tail (chunk id and
// length, 4 bytes each, big-endian), then every chunk's data followed by its own tail, in the order the
// chunks were added. A client finds a chunk by walking the tails backwards from the end, so nothing may
// follow the last tail. Without chunks the payload is the image alone.
//
// A multipart block carries the chunks in a part of their own, last: every chunk's data and tail as above,
// without an image tail (the images are parts of their own). A client walking back from the end of the block
// finds the same tails.
#pragma once

#include "byte_writer.h"
#include "payload_span.h"

#include <cstdint>
#include <memory>

namespace gvsp {

struct ComposedPayload {
    // The image (pointing into the caller's frame) and, with chunks, the chunk section built here.
    Span segments[2];
    std::size_t segmentCount = 0;
    std::uint64_t imageBytes = 0;
    std::uint64_t totalBytes = 0;
    bool hasChunks = false;
    // Changes only when the set, order or sizes of the chunks change.
    std::uint32_t chunkLayoutId = 0;
};

class FrameParts {
public:
    // Room for the chunk values of one frame; a bridge sends a handful of 4- or 8-byte values.
    static constexpr std::uint32_t kMaxChunks = 32;
    static constexpr std::uint32_t kMaxChunkBytes = 4096;

    FrameParts();

    void begin();
    // Declares the image part (data null: `length` bytes at the start of the frame) or copies one chunk.
    // 0 on success; non-zero for a chunk that is empty, not a multiple of 4 bytes, or does not fit.
    int add(const void* data, std::uint32_t length, std::uint32_t chunkId);

    bool imageDeclared() const { return imageDeclared_; }
    std::uint64_t declaredImageBytes() const { return imageBytes_; }
    std::uint32_t chunkCount() const { return chunkCount_; }

    // Composes the payload of `imageBytes` taken from `frame`. The chunk section lives in this object, so
    // the result is valid until the next begin/add/compose. False when the image is too large to be
    // described in a chunk tail (4 GiB).
    bool compose(const void* frame, std::uint64_t imageBytes, ComposedPayload* out);
    // The chunk part of a multipart block, valid until the next begin/add/compose; empty without chunks.
    // `layoutId` receives the chunk layout id.
    Span composeChunkPart(std::uint32_t* layoutId);

private:
    struct Chunk {
        std::uint32_t id;
        std::uint32_t length;
        std::uint32_t offset;
    };

    bool imageDeclared_ = false;
    std::uint64_t imageBytes_ = 0;
    std::uint32_t imageChunkId_ = 0;
    Chunk chunks_[kMaxChunks];
    std::uint32_t chunkCount_ = 0;
    std::uint32_t valueBytes_ = 0;
    std::unique_ptr<std::uint8_t[]> values_;
    std::unique_ptr<std::uint8_t[]> section_;

    // Writes every chunk's value with its id and length behind it; returns the layout id, a non-zero FNV-1a
    // hash over the ids and lengths, so the layout changes exactly when the chunks do.
    std::uint32_t writeChunks(wire::ByteWriter& writer) const;
};

}  // namespace gvsp
