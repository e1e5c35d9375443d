// The time limit of one whole socket transfer, shared by the socket implementations of every platform: what is
// left of it before each wait, so a peer that sends a byte now and then still runs out of time.
#pragma once

#include <chrono>

namespace sensorlink {

class TransferDeadline {
public:
    // A negative limit never runs out.
    explicit TransferDeadline(int timeoutMs)
        : unlimited_(timeoutMs < 0),
          end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(unlimited_ ? 0 : timeoutMs)) {}

    // Milliseconds left (0 once passed), or -1 when unlimited.
    int left() const {
        if (unlimited_) return -1;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
        return ms.count() > 0 ? static_cast<int>(ms.count()) : 0;
    }

private:
    bool unlimited_;
    std::chrono::steady_clock::time_point end_;
};

}  // namespace sensorlink
