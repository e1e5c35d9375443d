// The sensor database file: the sensor's calibration data, which the sensor hands out in chunks and the SDK
// keeps in a folder on the computer, one file per sensor named after its serial number.
//
// Layout (big-endian fields): 8 bytes kDatabaseMagic, u16 serial length, serial bytes, u32 body length, body,
// u32 checksum (32-bit FNV-1a over every byte before it). A file that is cut short or altered fails the
// check, so a half-written file is never taken for a database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sensorlink {

constexpr char kDatabaseMagic[8] = {'T', 'V', 'R', 'S', 'D', 'B', '0', '1'};

// True for serial numbers that are safe as a file name: 1 to 32 letters, digits, '-' and '_'.
bool isValidSerialNumber(const std::string& serial);

// "<serial>.sdb"
std::string databaseFileName(const std::string& serial);

// A database for `serial` whose body is `bodySize` bytes derived from `seed` alone.
std::vector<std::uint8_t> buildDatabase(const std::string& serial, std::uint64_t seed, std::size_t bodySize);

// True when `bytes` is a complete, unaltered database of the sensor `serial`.
bool isValidDatabase(const std::vector<std::uint8_t>& bytes, const std::string& serial);

std::uint32_t fnv1a32(const std::uint8_t* data, std::size_t size);

}  // namespace sensorlink
