// Building and checking sensor database files; see database_format.h for the layout.
#include "database_format.h"

#include "byte_reader.h"
#include "byte_writer.h"

namespace sensorlink {

using wire::ByteReader;
using wire::ByteWriter;

bool isValidSerialNumber(const std::string& serial) {
    if (serial.empty() || serial.size() > 32) return false;
    for (const char c : serial) {
        const bool ok =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

std::string databaseFileName(const std::string& serial) { return serial + ".sdb"; }

std::uint32_t fnv1a32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

std::vector<std::uint8_t> buildDatabase(const std::string& serial, std::uint64_t seed, std::size_t bodySize) {
    ByteWriter writer;
    writer.bytes(std::string_view(kDatabaseMagic, sizeof kDatabaseMagic));
    writer.u16(static_cast<std::uint16_t>(serial.size()));
    writer.bytes(serial);
    writer.u32(static_cast<std::uint32_t>(bodySize));
    // The body stands for calibration tables: a splitmix64 sequence, reproducible from the seed.
    std::uint64_t state = seed ^ 0x5DB0C0FFEEULL;
    std::vector<std::uint8_t>& out = writer.data();
    out.reserve(out.size() + bodySize + 4);
    for (std::size_t i = 0; i < bodySize; i += 8) {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        for (std::size_t b = 0; b < 8 && i + b < bodySize; ++b) out.push_back(static_cast<std::uint8_t>(z >> (8 * b)));
    }
    writer.u32(fnv1a32(out.data(), out.size()));
    return std::move(writer.data());
}

bool isValidDatabase(const std::vector<std::uint8_t>& bytes, const std::string& serial) {
    ByteReader reader(bytes.data(), bytes.size());
    const std::string magic = reader.text(sizeof kDatabaseMagic);
    const std::uint16_t serialLength = reader.u16();
    const std::string storedSerial = reader.text(serialLength);
    const std::uint32_t bodyLength = reader.u32();
    if (!reader.ok() || magic != std::string(kDatabaseMagic, sizeof kDatabaseMagic) || storedSerial != serial)
        return false;
    // The body and the checksum must fill the rest exactly.
    if (reader.remaining() < 4 || bodyLength != reader.remaining() - 4) return false;
    const std::size_t checked = bytes.size() - 4;
    ByteReader tail(bytes.data() + checked, 4);
    return tail.u32() == fnv1a32(bytes.data(), checked);
}

}  // namespace sensorlink
