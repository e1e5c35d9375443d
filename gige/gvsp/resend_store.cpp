// The store of recently sent frames that PACKETRESEND answers come from (see resend_store.h for its
// memory rules).
#include "resend_store.h"

#include <algorithm>
#include <cstring>

#include "os.h"

namespace gvsp {

bool PageBlock::reset(std::uint64_t bytes) {
    os::releasePages(data_, static_cast<std::size_t>(bytes_));
    data_ = static_cast<std::uint8_t*>(os::allocatePages(static_cast<std::size_t>(bytes)));
    bytes_ = data_ != nullptr ? bytes : 0;
    return data_ != nullptr || bytes == 0;
}

ResendStore::ResendStore(std::uint64_t byteBudget) : byteBudget_(byteBudget) {}

void ResendStore::setEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    enabled_ = enabled;
    if (!enabled) {
        for (Slot& slot : slots_) {
            slot.age = 0;
            if (slot.claimed) continue;  // the sender still copies into it; released with the next frame
            slot.memory.reset();
            slot.capacity = 0;
        }
    }
}

bool ResendStore::enabled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return enabled_;
}

std::uint64_t ResendStore::bytesReserved() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::uint64_t total = 0;
    for (const Slot& slot : slots_) total += slot.capacity;
    return total;
}

void ResendStore::releaseBeyond(std::uint64_t budget, const Slot* keep) {
    std::uint64_t reserved = 0;
    for (const Slot& slot : slots_) reserved += slot.capacity;
    while (reserved > budget) {
        // Memory that holds no frame goes first (age 0), then the oldest frames.
        Slot* victim = nullptr;
        for (Slot& slot : slots_) {
            if (&slot == keep || slot.claimed || slot.capacity == 0) continue;
            if (victim == nullptr || slot.age < victim->age) victim = &slot;
        }
        if (victim == nullptr) return;
        reserved -= victim->capacity;
        victim->memory.reset();
        victim->capacity = 0;
        victim->age = 0;
    }
}

ResendStore::Slot* ResendStore::claimSlot(std::uint64_t bytes) {
    const std::uint64_t byteBudget = std::min(byteBudget_, std::max(kSmallFramesBytes, kFramesKept * bytes));
    if (!enabled_ || bytes > byteBudget) return nullptr;
    std::uint64_t reserved = 0;
    Slot* spare = nullptr;      // holds no frame and has room: no allocation at all
    Slot* unused = nullptr;     // holds no frame and no memory
    Slot* oldestFit = nullptr;  // the oldest frame whose memory is large enough
    for (Slot& slot : slots_) {
        reserved += slot.capacity;
        if (slot.claimed) continue;
        if (slot.age == 0 && slot.capacity >= bytes && spare == nullptr) spare = &slot;
        if (slot.age == 0 && slot.capacity == 0 && unused == nullptr) unused = &slot;
        if (slot.age != 0 && slot.capacity >= bytes && (oldestFit == nullptr || slot.age < oldestFit->age)) {
            oldestFit = &slot;
        }
    }
    // Steady streaming reuses memory: growth only while the budget allows, else the oldest frame gives way.
    Slot* chosen = spare;
    if (chosen == nullptr && unused != nullptr && reserved + bytes <= byteBudget) chosen = unused;
    if (chosen == nullptr) chosen = oldestFit;
    if (chosen == nullptr) {
        // A larger frame than before: release the oldest frames until it fits, then allocate.
        for (;;) {
            Slot* victim = nullptr;
            for (Slot& slot : slots_) {
                if (slot.claimed || slot.capacity == 0) continue;
                if (victim == nullptr || slot.age < victim->age) victim = &slot;
            }
            if (reserved + bytes <= byteBudget && (unused != nullptr || victim == nullptr)) break;
            if (victim == nullptr) return nullptr;
            reserved -= victim->capacity;
            victim->memory.reset();
            victim->capacity = 0;
            victim->age = 0;
            if (unused == nullptr) unused = victim;
        }
        if (unused == nullptr) return nullptr;
        chosen = unused;
        chosen->capacity = 0;
    }
    // Memory far larger than the frame would outlive the large frames it was made for.
    if (chosen->capacity < bytes || chosen->capacity / 2 > bytes) {
        chosen->capacity = 0;
        chosen->age = 0;
        if (!chosen->memory.reset(bytes)) return nullptr;
        chosen->capacity = bytes;
    }
    chosen->age = 0;
    chosen->claimed = true;
    releaseBeyond(byteBudget, chosen);
    return chosen;
}

int ResendStore::begin(std::uint64_t blockId, const BlockLayout& layout, const Span& leader, const Span& trailer) {
    const std::uint64_t payloadBytes = layout.payloadBytes;
    if (layout.dataPerPacket == 0 || leader.length > sizeof(Slot::leader) || trailer.length > sizeof(Slot::trailer)) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Slot* slot = claimSlot(payloadBytes);
    if (slot == nullptr) return -1;
    std::memcpy(slot->leader, leader.data, leader.length);
    std::memcpy(slot->trailer, trailer.data, trailer.length);
    slot->filled = 0;
    HeldFrame& frame = slot->frame;
    frame.blockId = blockId;
    frame.layout = layout;
    frame.payloadPackets = static_cast<std::uint32_t>(layout.payloadPackets);
    frame.payload = slot->memory.get();
    frame.payloadBytes = payloadBytes;
    frame.availableBytes = 0;
    frame.sending = true;
    frame.leader = Span{slot->leader, leader.length};
    frame.trailer = Span{slot->trailer, trailer.length};
    // A 16-bit block id comes round again after 65535 frames; only the newest copy may answer for it.
    for (Slot& other : slots_) {
        if (&other != slot && other.age != 0 && other.frame.blockId == blockId) other.age = 0;
    }
    slot->age = nextAge_++;
    return static_cast<int>(slot - slots_);
}

void ResendStore::append(int handle, const Span* segments, std::size_t segmentCount, std::uint64_t end) {
    Slot& slot = slots_[handle];
    end = std::min(end, slot.frame.payloadBytes);
    if (end <= slot.filled) return;
    // The bytes past `filled` are invisible to readers, so the copy runs without the lock.
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < segmentCount && offset < end; ++i) {
        const std::uint64_t segmentEnd = offset + segments[i].length;
        if (segmentEnd > slot.filled) {
            const std::uint64_t from = std::max(offset, slot.filled);
            const std::uint64_t to = std::min(segmentEnd, end);
            std::memcpy(slot.memory.get() + from, segments[i].data + (from - offset),
                        static_cast<std::size_t>(to - from));
        }
        offset = segmentEnd;
    }
    slot.filled = end;
    std::lock_guard<std::mutex> lock(mutex_);
    slot.frame.availableBytes = end;
}

const std::uint8_t* ResendStore::payloadCopy(int handle) const { return slots_[handle].memory.get(); }

void ResendStore::finish(int handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_[handle].claimed = false;
    slots_[handle].frame.sending = false;
}

bool ResendStore::keep(std::uint64_t blockId, std::uint32_t packetDataSize, const Span& leader, const Span& trailer,
                       const Span* segments, std::size_t segmentCount) {
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < segmentCount; ++i) bytes += segments[i].length;
    const int handle = begin(blockId, BlockLayout::single(bytes, packetDataSize, false), leader, trailer);
    if (handle < 0) return false;
    append(handle, segments, segmentCount, bytes);
    finish(handle);
    return true;
}

void ResendStore::visit(std::uint64_t blockId, const std::function<void(const HeldFrame*)>& visit) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Slot& slot : slots_) {
        if (slot.age != 0 && slot.frame.blockId == blockId) {
            visit(&slot.frame);
            return;
        }
    }
    visit(nullptr);
}

void ResendStore::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Slot& slot : slots_) slot.age = 0;
}

}  // namespace gvsp
