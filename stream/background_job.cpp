// The acquisition loop's helper thread (see background_job.h).
#include "background_job.h"

#include "os.h"

BackgroundJob::BackgroundJob() : thread_([this] { serve(); }) {}

BackgroundJob::~BackgroundJob() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void BackgroundJob::start(std::function<void()> job) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        job_ = std::move(job);
        busy_ = true;
    }
    changed_.notify_all();
}

void BackgroundJob::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
}

void BackgroundJob::serve() {
    os::lowerThreadPriority();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || ending_; });
        if (!busy_) return;
        std::function<void()> job = std::move(job_);
        lock.unlock();
        job();
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}
