// Collecting the image part and the chunks of one frame and composing them into the payload on the wire.
#include "frame_parts.h"

#include "byte_writer.h"
#include "gvsp_protocol.h"

#include <algorithm>
#include <cstring>

namespace gvsp {

namespace {
constexpr std::size_t kSectionCapacity = kChunkTailSize * (FrameParts::kMaxChunks + 1) + FrameParts::kMaxChunkBytes;
}

FrameParts::FrameParts() : values_(new std::uint8_t[kMaxChunkBytes]), section_(new std::uint8_t[kSectionCapacity]) {}

void FrameParts::begin() {
    imageDeclared_ = false;
    imageBytes_ = 0;
    imageChunkId_ = 0;
    chunkCount_ = 0;
    valueBytes_ = 0;
}

int FrameParts::add(const void* data, std::uint32_t length, std::uint32_t chunkId) {
    if (data == nullptr) {
        imageDeclared_ = true;
        imageBytes_ = length;
        imageChunkId_ = chunkId;
        return 0;
    }
    // A zero length would end a client's backward walk over the tails; an odd length would misalign them.
    if (length == 0 || length % 4 != 0) return 1;
    if (chunkCount_ == kMaxChunks || length > kMaxChunkBytes - valueBytes_) return 2;
    std::memcpy(values_.get() + valueBytes_, data, length);
    chunks_[chunkCount_++] = Chunk{chunkId, length, valueBytes_};
    valueBytes_ += length;
    return 0;
}

std::uint32_t FrameParts::writeChunks(wire::ByteWriter& writer) const {
    std::uint32_t layout = 2166136261u;
    auto mix = [&layout](std::uint32_t value) {
        for (int i = 0; i < 4; ++i) layout = (layout ^ ((value >> (8 * i)) & 0xFF)) * 16777619u;
    };
    for (std::uint32_t i = 0; i < chunkCount_; ++i) {
        const Chunk& chunk = chunks_[i];
        writer.bytes(values_.get() + chunk.offset, chunk.length);
        writer.u32(chunk.id);
        writer.u32(chunk.length);
        mix(chunk.id);
        mix(chunk.length);
    }
    return layout == 0 ? 1 : layout;
}

Span FrameParts::composeChunkPart(std::uint32_t* layoutId) {
    wire::ByteWriter writer(section_.get(), kSectionCapacity);
    *layoutId = writeChunks(writer);
    return Span{section_.get(), writer.size()};
}

bool FrameParts::compose(const void* frame, std::uint64_t imageBytes, ComposedPayload* out) {
    *out = ComposedPayload{};
    out->imageBytes = imageBytes;
    out->segments[0] = Span{static_cast<const std::uint8_t*>(frame), static_cast<std::size_t>(imageBytes)};
    out->segmentCount = imageBytes > 0 ? 1 : 0;
    out->totalBytes = imageBytes;
    if (chunkCount_ == 0) return true;
    if (imageBytes > 0xFFFFFFFFu) return false;

    wire::ByteWriter writer(section_.get(), kSectionCapacity);
    writer.u32(imageChunkId_);
    writer.u32(static_cast<std::uint32_t>(imageBytes));
    const std::uint32_t layout = writeChunks(writer);
    if (!writer.ok()) return false;
    out->segments[out->segmentCount++] = Span{section_.get(), writer.size()};
    out->totalBytes += writer.size();
    out->hasChunks = true;
    out->chunkLayoutId = layout;
    return true;
}

std::size_t sliceSegments(const Span* segments, std::size_t segmentCount, std::uint64_t offset, std::size_t length,
                          Span* out, std::size_t maxOut) {
    std::size_t produced = 0;
    for (std::size_t i = 0; i < segmentCount && length > 0 && produced < maxOut; ++i) {
        const Span& segment = segments[i];
        if (offset >= segment.length) {
            offset -= segment.length;
            continue;
        }
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(segment.length - offset, length));
        out[produced++] = Span{segment.data + offset, take};
        length -= take;
        offset = 0;
    }
    return length == 0 ? produced : 0;
}

}  // namespace gvsp
