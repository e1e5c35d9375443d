// The message channel's queue, its sender thread and the event registers.
#include "gvcp/message_channel.h"

#include <chrono>
#include <cstring>

#include "byte_reader.h"
#include "byte_writer.h"
#include "gvcp/codec.h"

namespace gvcp {

namespace {
// EVENT and EVENTDATA: flag 0x10 says the records carry 64-bit block ids.
constexpr std::uint8_t kFlagExtendedIds = 0x10;
// A record not tied to a block names no stream channel.
constexpr std::uint16_t kNoStreamChannel = 0xFFFF;
constexpr std::size_t kLargestEvent = kHeaderSize + kExtendedEventRecordSize + kEventDataSize;
}  // namespace

MessageChannel::~MessageChannel() { stop(); }

bool MessageChannel::declare(std::uint16_t eventId, bool withData) {
    std::lock_guard lock(mutex_);
    if (find(eventId) != nullptr) return false;
    declared_.push_back(Declared{eventId, withData, false});
    return true;
}

const MessageChannel::Declared* MessageChannel::find(std::uint16_t eventId) const {
    for (const auto& event : declared_) {
        if (event.id == eventId) return &event;
    }
    return nullptr;
}

MessageChannel::Declared* MessageChannel::find(std::uint16_t eventId) {
    for (auto& event : declared_) {
        if (event.id == eventId) return &event;
    }
    return nullptr;
}

bool MessageChannel::covers(std::uint32_t address, std::uint32_t count) {
    return rangeWithin(address, count, kEventNotificationBase, kEventNotificationEnd) ||
           rangeWithin(address, count, kEventDroppedCount, kEventDroppedCount + 4);
}

Status MessageChannel::readRegisters(std::uint32_t address, std::uint32_t count, std::uint8_t* out) const {
    std::lock_guard lock(mutex_);
    for (std::uint32_t word = address; word - address < count; word += 4) {
        std::uint32_t value = 0;
        if (word == kEventDroppedCount) {
            value = dropped_.load();
        } else {
            const Declared* event = find(static_cast<std::uint16_t>((word - kEventNotificationBase) / 4));
            if (event == nullptr) return Status::InvalidAddress;
            value = event->notify ? 1 : 0;
        }
        wire::storeBe32(out + (word - address), value);
    }
    return Status::Success;
}

Status MessageChannel::writeRegisters(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
    std::lock_guard lock(mutex_);
    // Nothing is written unless every word may be.
    for (std::uint32_t word = address; word - address < count; word += 4) {
        if (word == kEventDroppedCount) return Status::WriteProtect;
        if (find(static_cast<std::uint16_t>((word - kEventNotificationBase) / 4)) == nullptr)
            return Status::InvalidAddress;
        if (wire::loadBe32(data + (word - address)) > 1) return Status::InvalidParameter;
    }
    for (std::uint32_t word = address; word - address < count; word += 4)
        find(static_cast<std::uint16_t>((word - kEventNotificationBase) / 4))->notify =
            wire::loadBe32(data + (word - address)) == 1;
    return Status::Success;
}

void MessageChannel::start(Transmit transmit) {
    stop();
    std::lock_guard lock(mutex_);
    transmit_ = std::move(transmit);
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void MessageChannel::stop() {
    {
        std::unique_lock lock(mutex_);
        if (!thread_.joinable()) return;
        // What is still queued gets a short while to reach the client: an error sent just before the program
        // ends (a lost sensor) is the one event the client would otherwise never learn of.
        changed_.wait_for(lock, kFlushLimit, [this] { return count_ == 0 || !settings_.open(); });
        stopping_ = true;
        count_ = 0;
        changed_.notify_all();
    }
    thread_.join();
}

void MessageChannel::configure(const Settings& settings) {
    std::lock_guard lock(mutex_);
    const bool wasOpen = settings_.open();
    settings_ = settings;
    if (wasOpen && !settings_.open()) {
        count_ = 0;
        ++closings_;
    }
    changed_.notify_all();
}

bool MessageChannel::queue(std::uint16_t eventId, std::uint64_t blockId, std::uint64_t ticks, std::uint32_t data) {
    std::lock_guard lock(mutex_);
    const Declared* event = find(eventId);
    if (event == nullptr || !event->notify || !settings_.open() || stopping_) return false;
    if (count_ == kQueueSize) {
        ++dropped_;
        return false;
    }
    queue_[(head_ + count_) % kQueueSize] = Pending{eventId, event->withData, blockId, ticks, data};
    ++count_;
    changed_.notify_all();
    return true;
}

void MessageChannel::acknowledged(std::uint32_t fromAddress, std::uint16_t code, std::uint16_t ackId) {
    std::lock_guard lock(mutex_);
    // Only the client the channel sends to answers for it; a stale answer (an earlier id) changes nothing.
    if (awaitedId_ == 0 || ackId != awaitedId_ || code != awaitedCode_ || fromAddress != settings_.destination) return;
    acknowledged_ = true;
    changed_.notify_all();
}

std::size_t MessageChannel::encode(const Pending& event, bool extendedIds, std::uint16_t requestId,
                                   std::uint8_t* out) const {
    const std::uint32_t recordSize = extendedIds ? kExtendedEventRecordSize : kEventRecordSize;
    const std::uint32_t length = recordSize + (event.withData ? kEventDataSize : 0);
    wire::ByteWriter writer(out, kHeaderSize + length);
    writer.u8(kKey);
    writer.u8(static_cast<std::uint8_t>(FlagAckRequired | (extendedIds ? kFlagExtendedIds : 0)));
    writer.u16(static_cast<std::uint16_t>(event.withData ? Command::EventData : Command::Event));
    writer.u16(static_cast<std::uint16_t>(length));
    writer.u16(requestId);
    // With extended ids the first field gives the record's size, data included, so that a client can step
    // over records of sizes it does not know; the standard layout keeps it reserved.
    writer.u16(static_cast<std::uint16_t>(extendedIds ? length : 0));
    writer.u16(event.id);
    writer.u16(event.blockId == 0 ? kNoStreamChannel : 0);
    if (extendedIds) {
        writer.u16(0);  // reserved
        writer.u64(event.blockId);
    } else {
        writer.u16(static_cast<std::uint16_t>(event.blockId));
    }
    writer.u64(event.ticks);
    if (event.withData) writer.u32(event.data);
    return kHeaderSize + length;
}

// One event at a time, in the order queued: a client sees them in the order they happened, and a re-sent event
// keeps its request id, so that the client can tell a repeat from a new event.
void MessageChannel::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (count_ == 0 || !settings_.open()) {
            changed_.wait(lock);
            continue;
        }
        const Pending event = queue_[head_];
        const std::uint64_t closings = closings_;
        requestId_ = static_cast<std::uint16_t>(requestId_ == 0xFFFF ? 1 : requestId_ + 1);
        awaitedId_ = requestId_;
        awaitedCode_ = ackCode(static_cast<std::uint16_t>(event.withData ? Command::EventData : Command::Event));
        acknowledged_ = false;
        const auto interrupted = [&] { return acknowledged_ || stopping_ || closings_ != closings; };
        std::uint8_t datagram[kLargestEvent];
        // Sent once, then again after each time-out while retries remain.
        for (std::uint64_t sends = 0; sends <= settings_.retries && !interrupted(); ++sends) {
            const std::size_t size = encode(event, settings_.extendedIds, awaitedId_, datagram);
            const gige::Endpoint to{settings_.destination, settings_.port};
            const std::uint32_t timeoutMs = settings_.timeoutMs;
            const Transmit transmit = transmit_;
            lock.unlock();
            transmit(datagram, size, to);
            lock.lock();
            changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), interrupted);
        }
        const bool delivered = acknowledged_;
        awaitedId_ = 0;
        // A closing emptied the queue, the event in flight with it.
        if (stopping_ || closings_ != closings) continue;
        head_ = (head_ + 1) % kQueueSize;
        --count_;
        if (!delivered) ++dropped_;
        changed_.notify_all();
    }
}

}  // namespace gvcp
