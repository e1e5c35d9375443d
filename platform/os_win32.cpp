// Windows side of the OS layer.
#include "os.h"

#include <conio.h>
#include <winsock2.h>
#include <windows.h>

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

bool consoleInputPending() { return ::_kbhit() != 0; }

std::string executablePath() {
    wchar_t path[2048];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, 2048);
    std::string bytes;
    bytes.reserve(length);
    for (DWORD i = 0; i < length; ++i) bytes.push_back(static_cast<char>(path[i] & 0xFF));
    return bytes;
}

char pathSeparator() { return '\\'; }

std::uint32_t hostToNetwork32(std::uint32_t value) { return htonl(value); }

}  // namespace os
