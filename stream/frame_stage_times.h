// Where the time of the frames of one acquisition goes: the stages of a frame cycle summed over the frames,
// reported in the trace when the acquisition stops, so that a slow stream can be told apart from a slow
// sensor or a slow client without a profiler.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

enum class FrameStage { StatusPoll, Trigger, Fetch, Conversion, ChunkData, Send, Pause };

class FrameStageTimes {
public:
    using Clock = std::chrono::steady_clock;
    using ClockSource = Clock::time_point (*)();

    // `now`: the clock the stages are measured with (the acquisition loop's, which tests step by hand).
    explicit FrameStageTimes(ClockSource now) : now_(now) {}

    Clock::time_point now() const { return now_(); }
    void start();  // an acquisition begins: all sums back to zero
    void add(FrameStage stage, Clock::duration time) { sums_[static_cast<std::size_t>(stage)] += time; }
    void frameSent() { ++frames_; }
    // Adds the stage sums of `other` (kept on another thread) to these.
    void addStages(const FrameStageTimes& other);
    // One line: the frame count, the frames per second since start(), and the mean milliseconds per frame of
    // each stage, e.g. "120 frames, 14.2 fps; ms per frame: status poll 0.21, trigger 0.05, ...".
    std::string summary() const;

private:
    static constexpr std::size_t kStages = 7;
    ClockSource now_;
    std::array<Clock::duration, kStages> sums_{};
    std::uint64_t frames_ = 0;
    Clock::time_point startedAt_{};
};

// Adds the time from its construction to its end to one stage.
class StageTimer {
public:
    StageTimer(FrameStageTimes& times, FrameStage stage) : times_(times), stage_(stage), started_(times.now()) {}
    ~StageTimer() { times_.add(stage_, times_.now() - started_); }
    StageTimer(const StageTimer&) = delete;
    StageTimer& operator=(const StageTimer&) = delete;

private:
    FrameStageTimes& times_;
    FrameStage stage_;
    FrameStageTimes::Clock::time_point started_;
};
