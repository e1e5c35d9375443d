// Windows side of the OS layer.
#include "os.h"

#include <conio.h>
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace os {

void sleepMs(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

std::uint32_t tickCountMs() { return ::GetTickCount(); }

std::uint64_t monotonicNs() {
    static const std::uint64_t frequency = [] {
        LARGE_INTEGER value;
        ::QueryPerformanceFrequency(&value);
        return static_cast<std::uint64_t>(value.QuadPart);
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    const auto count = static_cast<std::uint64_t>(counter.QuadPart);
    // Whole seconds and the rest apart: count * 10^9 would overflow after a few weeks of a 10 MHz counter.
    return count / frequency * 1000000000 + count % frequency * 1000000000 / frequency;
}

std::uint64_t realtimeNs() {
    // The precise clock came with Windows 8; the build targets Windows 7, whose clock moves in timer ticks.
    using ReadTime = void(WINAPI*)(LPFILETIME);
    static const ReadTime readTime = [] {
        const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        void* precise = kernel == nullptr
                            ? nullptr
                            : reinterpret_cast<void*>(::GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime"));
        return precise != nullptr ? reinterpret_cast<ReadTime>(precise) : &::GetSystemTimeAsFileTime;
    }();
    // 100 ns intervals since 1601-01-01; the Unix epoch is 11644473600 s later.
    constexpr std::uint64_t kUnixEpochIntervals = 116444736000000000ULL;
    FILETIME now;
    readTime(&now);
    const std::uint64_t intervals = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    return (intervals - kUnixEpochIntervals) * 100;
}

EventHandle createEvent(bool manualReset, bool initiallySignalled) {
    return ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initiallySignalled ? TRUE : FALSE, nullptr);
}

int setEvent(EventHandle event) {
    return ::SetEvent(static_cast<HANDLE>(event)) ? 0 : static_cast<int>(::GetLastError());
}

int resetEvent(EventHandle event) {
    return ::ResetEvent(static_cast<HANDLE>(event)) ? 0 : static_cast<int>(::GetLastError());
}

int waitForEvent(EventHandle event, std::uint64_t timeoutMs) {
    // WaitForSingleObject takes 32 bits; longer waits than INFINITE - 1 ms are treated as unlimited.
    const DWORD limit = timeoutMs >= INFINITE ? INFINITE : static_cast<DWORD>(timeoutMs);
    const DWORD result = ::WaitForSingleObject(static_cast<HANDLE>(event), limit);
    if (result == WAIT_OBJECT_0) return kWaitSignalled;
    if (result == WAIT_TIMEOUT) return kWaitTimeout;
    return static_cast<int>(::GetLastError());
}

void destroyEvent(EventHandle event) {
    if (event != nullptr) ::CloseHandle(static_cast<HANDLE>(event));
}

namespace {

HANDLE standardInput() { return ::GetStdHandle(STD_INPUT_HANDLE); }

bool isConsole(HANDLE input) {
    DWORD mode = 0;
    return ::GetFileType(input) == FILE_TYPE_CHAR && ::GetConsoleMode(input, &mode);
}

std::string toUtf8(const wchar_t* text, int length) {
    if (length <= 0) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// Standard input that cannot be looked at without reading it (a pipe that refuses to be peeked at, such as a
// Linux pipe under wine): a thread of its own reads it byte by byte and keeps what arrived. It lives as long
// as the process, since it may be blocked in a read when the process ends.
class InputReader {
public:
    explicit InputReader(HANDLE input) {
        std::thread([this, input] { run(input); }).detach();
    }

    bool pending() {
        std::lock_guard lock(mutex_);
        return !bytes_.empty() || ended_;
    }

    int take() {
        std::lock_guard lock(mutex_);
        if (bytes_.empty()) return EOF;
        const int byte = static_cast<unsigned char>(bytes_.front());
        bytes_.pop_front();
        return byte;
    }

private:
    void run(HANDLE input) {
        for (;;) {
            char byte = 0;
            DWORD count = 0;
            const bool read = ::ReadFile(input, &byte, 1, &count, nullptr) && count == 1;
            std::lock_guard lock(mutex_);
            if (!read) {
                ended_ = true;
                return;
            }
            bytes_.push_back(byte);
        }
    }

    std::mutex mutex_;
    std::deque<char> bytes_;
    bool ended_ = false;
};

InputReader* inputReader = nullptr;  // started on first need, never destroyed

}  // namespace

// Standard input may be a console, a pipe (a script or a service wrapper writes to it) or a file; _kbhit
// alone sees console keys only and would leave ENTER on a pipe unread for ever.
bool consoleInputPending() {
    const HANDLE input = standardInput();
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return false;
    if (inputReader != nullptr) return inputReader->pending();
    switch (::GetFileType(input)) {
        case FILE_TYPE_CHAR:
            // A character device that is no console (NUL) answers a read at once, as a file does.
            return isConsole(input) ? ::_kbhit() != 0 : true;
        case FILE_TYPE_DISK: return true;
        case FILE_TYPE_PIPE: {
            DWORD available = 0;
            if (::PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) return available > 0;
            // The writer has gone: the read reports the end of input at once.
            if (::GetLastError() == ERROR_BROKEN_PIPE) return true;
            break;
        }
        default: break;
    }
    inputReader = new InputReader(input);
    return inputReader->pending();
}

// A console read through the C library waits for a whole line: a stray key would hold the program until
// ENTER. _getch takes the one key that is waiting.
int readConsoleCharacter() {
    if (inputReader != nullptr) return inputReader->take();
    if (isConsole(standardInput())) {
        const int key = ::_getch();
        return key == '\r' ? '\n' : key;
    }
    return std::getchar();
}

namespace {
std::atomic<bool> endRequestSeen{false};

BOOL WINAPI noteEndRequest(DWORD kind) {
    // A second request is left to the default handler, which ends the process.
    if (endRequestSeen.exchange(true)) return FALSE;
    // For a closing window, a logoff or a shutdown the process ends when this handler returns, and at the
    // latest after about five seconds: the program's orderly end, which ends the process, gets that time.
    if (kind == CTRL_CLOSE_EVENT || kind == CTRL_LOGOFF_EVENT || kind == CTRL_SHUTDOWN_EVENT) ::Sleep(5000);
    return TRUE;
}
}  // namespace

void noteEndRequests() { ::SetConsoleCtrlHandler(&noteEndRequest, TRUE); }

bool endRequested() { return endRequestSeen.load(); }

// Windows announces no such folder: there the program's files stay beside it, in the folder it was unpacked to.
std::string serviceStateFolder() { return {}; }

// The path is asked for with a growing buffer (it may be longer than MAX_PATH) and kept whole as UTF-8, so a
// folder named in any script reaches the sensor database's file operations unchanged.
std::string executablePath() {
    std::wstring path(1024, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return toUtf8(path.data(), static_cast<int>(length));
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

char pathSeparator() { return '\\'; }

std::string writeFileToDisk(const std::filesystem::path& path, const std::string& text) {
    const auto failure = [](const char* step) {
        return std::string(step) + " failed, error " + std::to_string(::GetLastError());
    };
    const HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failure("CreateFile");
    std::size_t written = 0;
    while (written < text.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - written, 1 << 20));
        DWORD step = 0;
        if (!::WriteFile(file, text.data() + written, chunk, &step, nullptr) || step == 0) {
            const std::string reason = failure("WriteFile");
            ::CloseHandle(file);
            return reason;
        }
        written += step;
    }
    const std::string reason = ::FlushFileBuffers(file) ? std::string() : failure("FlushFileBuffers");
    ::CloseHandle(file);
    return reason;
}

std::uint32_t hostToNetwork32(std::uint32_t value) { return htonl(value); }

void* allocatePages(std::size_t bytes) {
    if (bytes == 0) return nullptr;
    return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void releasePages(void* memory, std::size_t) {
    if (memory != nullptr) ::VirtualFree(memory, 0, MEM_RELEASE);
}

bool lowerThreadPriority() { return ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL) != 0; }

bool favourThreadLatency() { return ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL) != 0; }

}  // namespace os
