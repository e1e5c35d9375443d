// The bootstrap register block (0x0000-0x0FFF) as a memory image with an access code per 32-bit word.
// The image holds every value big-endian, exactly as a memory read returns it; reserved words inside the
// device information block read as zero, words outside the listed registers are not mapped.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "gvcp/protocol.h"

namespace gvcp {

class BootstrapRegisters {
public:
    enum class Access : std::uint8_t { Unmapped, ReadOnly, ReadWrite, WriteOnly };

    BootstrapRegisters();

    Access access(std::uint32_t address) const;
    std::uint32_t word(std::uint32_t address) const;
    void setWord(std::uint32_t address, std::uint32_t value);
    // Strings keep at least one NUL inside their field.
    void setString(std::uint32_t address, std::uint32_t size, const std::string& text);
    std::string string(std::uint32_t address, std::uint32_t size) const;
    // Raw bytes of [address, address + count); the caller has checked the range.
    void copy(std::uint32_t address, std::uint32_t count, std::uint8_t* out) const;
    const std::uint8_t* image() const { return memory_.data(); }

private:
    void map(std::uint32_t address, std::uint32_t size, Access access);

    std::array<std::uint8_t, reg::kBootstrapEnd> memory_{};
    std::array<Access, reg::kBootstrapEnd / 4> access_{};
};

}  // namespace gvcp
