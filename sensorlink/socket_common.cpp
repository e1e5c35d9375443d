// The parts of the socket layer that do not depend on the operating system.
#include <cstdlib>

#include "socket.h"

namespace sensorlink {

bool parseIpv4(const std::string& text, std::uint32_t& hostOrderAddress) {
    std::uint32_t address = 0;
    std::size_t position = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (position >= text.size() || text[position] != '.') return false;
            ++position;
        }
        std::size_t digits = 0;
        std::uint32_t value = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9' && digits < 4) {
            value = value * 10 + static_cast<std::uint32_t>(text[position] - '0');
            ++position;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        address = (address << 8) | value;
    }
    if (position != text.size()) return false;
    hostOrderAddress = address;
    return true;
}

TcpStream::~TcpStream() { close(); }

TcpStream::TcpStream(TcpStream&& other) noexcept : handle_(other.handle_), shutDown_(other.shutDown_.load()) {
    other.handle_ = kInvalidHandle;
}

TcpStream& TcpStream::operator=(TcpStream&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        shutDown_ = other.shutDown_.load();
        other.handle_ = kInvalidHandle;
    }
    return *this;
}

}  // namespace sensorlink
