// The few operating-system services the program needs, the same on Windows and Linux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace os {

// Sleeps at least `milliseconds`.
void sleepMs(std::uint32_t milliseconds);

// Milliseconds since an arbitrary start, as a 32-bit counter that wraps after about 49.7 days.
std::uint32_t tickCountMs();

// Nanoseconds of a clock that never runs backwards and does not follow changes of the wall time, since an
// arbitrary start; 64 bits do not wrap for centuries.
std::uint64_t monotonicNs();
inline std::uint64_t monotonicMs() { return monotonicNs() / 1000000; }

// Nanoseconds since the Unix epoch (1970-01-01 UTC) of the host's real-time clock. It follows the wall time,
// steps included, so hosts kept in step by PTP or another time service read the same value at one moment.
std::uint64_t realtimeNs();

// A manual-reset event: once set it stays signalled, releasing every waiter, until reset.
using EventHandle = void*;
constexpr int kWaitSignalled = 0;
constexpr int kWaitTimeout = 258;
constexpr std::uint64_t kWaitForever = ~std::uint64_t{0};

EventHandle createEvent(bool manualReset, bool initiallySignalled);
int setEvent(EventHandle event);    // 0, or the platform's error code
int resetEvent(EventHandle event);  // 0, or the platform's error code
// 0 when signalled, 258 when `timeoutMs` passed first, else an error code. Any time-out from 0xFFFFFFFF ms up
// (kWaitForever among them) waits without limit, as on Windows.
int waitForEvent(EventHandle event, std::uint64_t timeoutMs);
void destroyEvent(EventHandle event);

// True when a character can be read from standard input without blocking: a key on a console, data or the
// end of input on a pipe, always on a file.
bool consoleInputPending();
// Reads the character that consoleInputPending() announced: one key from a console without waiting for a
// whole line (ENTER gives '\n'), else the next byte of standard input; EOF at the end of input.
int readConsoleCharacter();

// From this call on, a request from outside to end the program (SIGTERM or SIGINT on Linux, as a service
// manager or Ctrl+C sends it; Ctrl+C, Ctrl+Break or closing the console window on Windows) no longer ends the
// process at once but is noted for endRequested(), so that the program can stop the sensor and close its
// connections first. A second request ends the process as before, for a program that hangs on its way out.
void noteEndRequests();
// True once a request to end came after noteEndRequests().
bool endRequested();

// The folder a service manager gave the program for the files it keeps between runs (systemd's
// StateDirectory=, announced in STATE_DIRECTORY), with its trailing separator; empty when there is none.
std::string serviceStateFolder();

// Full path of the running executable, UTF-8 encoded.
std::string executablePath();
// The character that separates folders in executablePath().
char pathSeparator();

// Writes `text` as the whole content of the file `path` (made or emptied first) and waits until the system has
// put it on the disk, so that a file renamed over another afterwards is complete even after a power loss.
// Empty on success, else why it failed.
std::string writeFileToDisk(const std::filesystem::path& path, const std::string& text);

// Memory in whole pages straight from the operating system, given back to it at once when released: for
// large buffers that come and go with the size of the frames, which the general heap may keep after they are
// freed. Null when the system refuses; `bytes` of the release is the size allocated.
void* allocatePages(std::size_t bytes);
void releasePages(void* memory, std::size_t bytes);

// Lowers the scheduling priority of the calling thread a little below the program's other threads: for threads
// that move bulk data, so that a thread answering a request gets a processor as soon as it has work even while
// they keep every processor busy. Needs no privileges; false when the system refused.
bool lowerThreadPriority();
// Asks for the calling thread to run soon after it wakes, for threads that answer requests and then sleep
// again: on Linux a short time slice, so that the scheduler lets it in before a busy thread's slice has run
// out; on Windows a raised priority. Needs no privileges; false when the system refused.
bool favourThreadLatency();

// Host to network (big-endian) byte order.
std::uint32_t hostToNetwork32(std::uint32_t value);

}  // namespace os
