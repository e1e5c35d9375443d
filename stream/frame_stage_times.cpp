// Stage sums of one acquisition and their one-line summary; see frame_stage_times.h.
#include "frame_stage_times.h"

#include <cstdio>

namespace {

constexpr const char* kStageNames[] = {"status poll", "trigger", "fetch", "conversion", "chunk data", "send", "pause"};

double milliseconds(std::chrono::steady_clock::duration time) {
    return std::chrono::duration<double, std::milli>(time).count();
}

}  // namespace

void FrameStageTimes::start() {
    sums_.fill({});
    frames_ = 0;
    startedAt_ = now_();
}

void FrameStageTimes::addStages(const FrameStageTimes& other) {
    for (std::size_t stage = 0; stage < kStages; ++stage) sums_[stage] += other.sums_[stage];
}

std::string FrameStageTimes::summary() const {
    const double elapsed = milliseconds(now_() - startedAt_);
    const double frames = static_cast<double>(frames_);
    char text[64];
    std::snprintf(text, sizeof text, "%llu frames, %.2f fps; ms per frame:", static_cast<unsigned long long>(frames_),
                  elapsed > 0 ? 1000.0 * frames / elapsed : 0.0);
    std::string line = text;
    for (std::size_t stage = 0; stage < kStages; ++stage) {
        std::snprintf(text, sizeof text, "%s %s %.3f", stage == 0 ? "" : ",", kStageNames[stage],
                      frames > 0 ? milliseconds(sums_[stage]) / frames : 0.0);
        line += text;
    }
    return line;
}
