// POSIX side of the OS layer.
#include "os.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace os {

void sleepMs(std::uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

std::uint32_t tickCountMs() { return static_cast<std::uint32_t>(monotonicNs() / 1000000); }

std::uint64_t monotonicNs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

std::uint64_t realtimeNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000 + static_cast<std::uint64_t>(now.tv_nsec);
}

namespace {

struct Event {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
    bool manualReset = true;
};

}  // namespace

EventHandle createEvent(bool manualReset, bool initiallySignalled) {
    auto* event = new Event;
    event->manualReset = manualReset;
    event->signalled = initiallySignalled;
    return event;
}

int setEvent(EventHandle handle) {
    auto* event = static_cast<Event*>(handle);
    if (event == nullptr) return 6;  // same code as Windows' ERROR_INVALID_HANDLE
    {
        std::lock_guard<std::mutex> lock(event->mutex);
        event->signalled = true;
    }
    event->changed.notify_all();
    return 0;
}

int resetEvent(EventHandle handle) {
    auto* event = static_cast<Event*>(handle);
    if (event == nullptr) return 6;
    std::lock_guard<std::mutex> lock(event->mutex);
    event->signalled = false;
    return 0;
}

int waitForEvent(EventHandle handle, std::uint64_t timeoutMs) {
    auto* event = static_cast<Event*>(handle);
    if (event == nullptr) return 6;
    std::unique_lock<std::mutex> lock(event->mutex);
    const auto isSignalled = [event] { return event->signalled; };
    // As on Windows, a timeout of 0xFFFFFFFF ms or more waits without limit; longer durations would also
    // overflow the clock's "now + timeout" and end the wait at once.
    if (timeoutMs >= 0xFFFFFFFFu) {
        event->changed.wait(lock, isSignalled);
    } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSignalled)) {
        return kWaitTimeout;
    }
    if (!event->manualReset) event->signalled = false;
    return kWaitSignalled;
}

void destroyEvent(EventHandle handle) { delete static_cast<Event*>(handle); }

bool consoleInputPending() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return ::poll(&input, 1, 0) > 0 && (input.revents & (POLLIN | POLLHUP)) != 0;
}

// A terminal hands a line over only when it is complete, so reading it never waits for more keys.
int readConsoleCharacter() { return std::getchar(); }

namespace {
// Written by the signal handler, so it must be lock-free.
std::atomic<bool> endRequestSeen{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void noteEndRequest(int) { endRequestSeen.store(true); }
}  // namespace

void noteEndRequests() {
    struct sigaction action {};
    action.sa_handler = &noteEndRequest;
    ::sigemptyset(&action.sa_mask);
    // The handler gives way to the default action after one request, so a second one still ends the process.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

bool endRequested() { return endRequestSeen.load(); }

// STATE_DIRECTORY lists one folder per StateDirectory= entry, separated by ':'; the first is the program's.
std::string serviceStateFolder() {
    const char* folders = std::getenv("STATE_DIRECTORY");
    if (folders == nullptr) return {};
    std::string folder(folders, std::strcspn(folders, ":"));
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

std::string executablePath() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    return std::string(path, static_cast<std::size_t>(length));
}

char pathSeparator() { return '/'; }

std::string writeFileToDisk(const std::filesystem::path& path, const std::string& text) {
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) return std::strerror(errno);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t step = ::write(file, text.data() + written, text.size() - written);
        if (step < 0 && errno == EINTR) continue;
        if (step <= 0) {
            const std::string reason = step < 0 ? std::strerror(errno) : "nothing was written";
            ::close(file);
            return reason;
        }
        written += static_cast<std::size_t>(step);
    }
    // The data reaches the disk before close, whose own failure (a full disk on a network file system) counts too.
    const bool synced = ::fsync(file) == 0;
    const std::string reason = synced ? std::string() : std::strerror(errno);
    if (::close(file) != 0 && synced) return std::strerror(errno);
    return reason;
}

std::uint32_t hostToNetwork32(std::uint32_t value) { return htonl(value); }

void* allocatePages(std::size_t bytes) {
    if (bytes == 0) return nullptr;
    void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
}

void releasePages(void* memory, std::size_t bytes) {
    if (memory != nullptr) ::munmap(memory, bytes);
}

namespace {
// Nice steps below the other threads: each step is about a tenth less processor share when they compete.
constexpr int kBulkNiceSteps = 5;
// The slice a latency-favoured thread asks for; the kernel accepts 0.1 to 100 ms.
constexpr std::uint64_t kShortSliceNs = 100000;

// The kernel's scheduling attributes (sched_setattr), of which the C library has no declaration.
struct SchedulingAttributes {
    std::uint32_t size;
    std::uint32_t policy;
    std::uint64_t flags;
    std::int32_t nice;
    std::uint32_t priority;
    std::uint64_t runtime;
    std::uint64_t deadline;
    std::uint64_t period;
};
}  // namespace

bool favourThreadLatency() {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    if (nice == -1 && errno != 0) return false;
    SchedulingAttributes attributes{};
    attributes.size = sizeof attributes;
    attributes.policy = SCHED_OTHER;
    attributes.nice = nice;
    attributes.runtime = kShortSliceNs;
    return ::syscall(SYS_sched_setattr, 0, &attributes, 0) == 0;
}

bool lowerThreadPriority() {
    // On Linux the nice value belongs to the thread named by its id, not to the whole process.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (current == -1 && errno != 0) return false;
    return ::setpriority(PRIO_PROCESS, thread, std::min(current + kBulkNiceSteps, 19)) == 0;
}

}  // namespace os
