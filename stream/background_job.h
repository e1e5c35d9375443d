// One helper thread of the acquisition loop that runs one job at a time, so that the sensor's part of the
// next frame (status poll, trigger, fetch) runs while the current frame is being sent. The thread lives as
// long as the object.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class BackgroundJob {
public:
    BackgroundJob();
    ~BackgroundJob();  // lets a started job end, then ends the thread
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;

    // Runs `job` on the helper thread, after the job started before it has ended.
    void start(std::function<void()> job);
    // Returns once the started job has ended (at once when none is running); what the job wrote is then
    // visible to the caller.
    void wait();

private:
    void serve();

    std::mutex mutex_;  // guards job_, busy_ and ending_
    std::condition_variable changed_;
    std::function<void()> job_;
    bool busy_ = false;
    bool ending_ = false;
    std::thread thread_;  // last: it starts once the members it uses exist
};
