// The last frames sent, kept so that a client can ask for packets it missed (PACKETRESEND).
//
// Memory: what a client can still ask for, and no more. A client asks for missing packets within a few of
// its packet time-outs (20 ms for common clients), but at full rate it reads its packets late and its
// requests trail the stream by several frames (up to half a second was seen), so the last kFramesKept frames
// are kept; small frames are
// kept up to kSmallFramesBytes in all, since a fast device sends many of them within that time. Both are
// bounded by kFrameCount frames and by `byteBudget` (256 MiB by default). The budget follows the size of the
// frame being sent: memory of larger frames that were sent before is released, so a stream of small frames
// after large ones holds only what the small ones need. A frame's buffer is reused for later frames, so steady
// streaming allocates nothing. A frame larger than the whole budget is not kept, and resend requests for it
// are answered as unavailable.
//
// Threads: the sender copies a frame in while it sends it (begin, append in order, finish), so each part is
// copied while it is still in the cache and the packets leave from the copy; the control thread looks a frame
// up and sends from it while holding the lock. A reader only touches bytes the sender has already copied,
// and the sender never writes those again until the frame is replaced, which the lock orders.
#pragma once

#include "block_layout.h"
#include "gvsp_packets.h"
#include "payload_span.h"

#include <cstdint>
#include <functional>
#include <mutex>

namespace gvsp {

// A frame's copy: pages from the operating system, so that memory released when frames shrink or the store
// is disabled is given back rather than kept by the heap.
class PageBlock {
public:
    PageBlock() = default;
    ~PageBlock() { reset(); }
    PageBlock(const PageBlock&) = delete;
    PageBlock& operator=(const PageBlock&) = delete;

    // Replaces the block by one of `bytes` (0: none); false when the system refused it.
    bool reset(std::uint64_t bytes = 0);
    std::uint8_t* get() const { return data_; }

private:
    std::uint8_t* data_ = nullptr;
    std::uint64_t bytes_ = 0;
};

struct HeldFrame {
    std::uint64_t blockId = 0;
    BlockLayout layout;                // how the payload was cut into packets, and their headers
    std::uint32_t payloadPackets = 0;  // packets 1..payloadPackets carry data; the trailer follows
    const std::uint8_t* payload = nullptr;
    std::uint64_t payloadBytes = 0;
    std::uint64_t availableBytes = 0;  // copied so far; packets beyond it are not held (yet)
    bool sending = false;              // the sender is still at it: packets not held yet are on their way
    Span leader;                       // whole packet, header included
    Span trailer;                      // whole packet, header included
};

class ResendStore {
public:
    static constexpr std::size_t kFrameCount = 64;
    static constexpr std::uint64_t kFramesKept = 16;
    static constexpr std::uint64_t kSmallFramesBytes = 32ull << 20;
    static constexpr std::uint64_t kDefaultByteBudget = 256ull << 20;

    explicit ResendStore(std::uint64_t byteBudget = kDefaultByteBudget);

    void setEnabled(bool enabled);
    bool enabled() const;

    // Starts keeping frame `blockId`: its leader and trailer packets now, its layout's payload bytes through
    // append(). Replaces the oldest frame. Returns a handle, or -1 when the frame is not kept (store
    // disabled, or over the budget).
    int begin(std::uint64_t blockId, const BlockLayout& layout, const Span& leader, const Span& trailer);
    // Copies the payload from where the last append stopped up to byte `end` (taken from `segments`, the
    // whole payload) and makes it available to resends.
    void append(int handle, const Span* segments, std::size_t segmentCount, std::uint64_t end);
    // The frame's copy of the payload, valid until finish().
    const std::uint8_t* payloadCopy(int handle) const;
    // The sender is done with the frame; it may now be replaced.
    void finish(int handle);
    // begin, append of everything and finish in one call for a single-part frame; false when it is not kept.
    bool keep(std::uint64_t blockId, std::uint32_t packetDataSize, const Span& leader, const Span& trailer,
              const Span* segments, std::size_t segmentCount);
    // Calls `visit` with the frame of `blockId` under the store's lock, or with null when it is not held.
    void visit(std::uint64_t blockId, const std::function<void(const HeldFrame*)>& visit);
    // Forgets every frame (the memory stays for reuse).
    void clear();
    std::uint64_t bytesReserved() const;

private:
    struct Slot {
        PageBlock memory;
        std::uint64_t capacity = 0;
        std::uint64_t age = 0;     // order of keeping; 0 = empty
        bool claimed = false;      // the sender is still copying into it: never replaced meanwhile
        std::uint64_t filled = 0;  // sender's progress (its thread only)
        std::uint8_t leader[kMaxLeaderPacket] = {};
        std::uint8_t trailer[kMaxTrailerPacket] = {};
        HeldFrame frame;
    };

    Slot* claimSlot(std::uint64_t bytes);
    // Releases the memory of the oldest slots (never `keep` or a claimed one) while more than `budget` is held.
    void releaseBeyond(std::uint64_t budget, const Slot* keep);

    mutable std::mutex mutex_;
    Slot slots_[kFrameCount];
    std::uint64_t byteBudget_;
    std::uint64_t nextAge_ = 1;
    bool enabled_ = true;
};

}  // namespace gvsp
