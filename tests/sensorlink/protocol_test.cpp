// The sensor protocol's codec and the database file format: round trips, and every truncation refused.
#include <gtest/gtest.h>

#include <cstring>

#include "byte_writer.h"
#include "database_format.h"
#include "protocol.h"
#include "socket.h"

using namespace sensorlink;
using wire::ByteWriter;

TEST(Protocol, HeaderRoundTripsAndRejectsForeignBytes) {
    std::uint8_t bytes[kHeaderSize];
    encodeHeader(0x85, 0xA1B2C3D4, 1234, bytes);
    const std::uint8_t golden[kHeaderSize] = {'T',  'V',  'R',  '1',  0x85, 0, 0,    0,
                                              0xA1, 0xB2, 0xC3, 0xD4, 0,    0, 0x04, 0xD2};
    EXPECT_EQ(0, std::memcmp(bytes, golden, kHeaderSize));
    const auto header = decodeHeader(bytes, kHeaderSize);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->kind, 0x85);
    EXPECT_EQ(header->requestId, 0xA1B2C3D4u);
    EXPECT_EQ(header->payloadLength, 1234u);
    for (std::size_t cut = 0; cut < kHeaderSize; ++cut) EXPECT_FALSE(decodeHeader(bytes, cut)) << cut;
    for (std::size_t at : {0u, 3u, 5u, 7u}) {
        std::uint8_t altered[kHeaderSize];
        std::memcpy(altered, bytes, kHeaderSize);
        altered[at] ^= 0x40;
        EXPECT_FALSE(decodeHeader(altered, kHeaderSize)) << at;
    }
}

TEST(Protocol, HelloReplyRoundTripsAndEveryTruncationIsRefused) {
    const HelloReply hello{kProtocolVersion, 1280, 1024, "CVS3D-22A0417"};
    auto bytes = encodeHelloReply(hello);
    bytes.erase(bytes.begin(), bytes.begin() + 4);  // the result code travels ahead of the fields
    const auto decoded = decodeHelloReply(bytes.data(), bytes.size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 1280u);
    EXPECT_EQ(decoded->height, 1024u);
    EXPECT_EQ(decoded->serialNumber, "CVS3D-22A0417");
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) EXPECT_FALSE(decodeHelloReply(bytes.data(), cut)) << cut;
    bytes.push_back(0);
    EXPECT_FALSE(decodeHelloReply(bytes.data(), bytes.size()));  // trailing bytes
    // A resolution beyond the limit would overflow the 26-bytes-per-pixel sizes.
    auto huge = encodeHelloReply({kProtocolVersion, 65536, 65536, "X"});
    huge.erase(huge.begin(), huge.begin() + 4);
    EXPECT_FALSE(decodeHelloReply(huge.data(), huge.size()));
}

TEST(Protocol, RequestLimits) {
    EXPECT_EQ(maxRequestPayload(static_cast<std::uint8_t>(MessageKind::Command)), 1023u);
    EXPECT_EQ(maxRequestPayload(static_cast<std::uint8_t>(MessageKind::PointCloud)), 0u);
    EXPECT_EQ(maxRequestPayload(0x42), 0u);
    ByteWriter read;
    read.u32(10);
    read.u32(kMaxDatabaseChunk);
    EXPECT_TRUE(decodeDatabaseRead(read.data().data(), 8));
    for (std::size_t cut = 0; cut < 8; ++cut) EXPECT_FALSE(decodeDatabaseRead(read.data().data(), cut));
    read.patchU32(4, kMaxDatabaseChunk + 1);
    EXPECT_FALSE(decodeDatabaseRead(read.data().data(), 8));
    read.patchU32(4, 0);
    EXPECT_FALSE(decodeDatabaseRead(read.data().data(), 8));
}

TEST(DatabaseFormat, OnlyACompleteUnalteredFileOfThisSensorPasses) {
    const auto database = buildDatabase("CVS3D-7", 5, 5000);
    EXPECT_TRUE(isValidDatabase(database, "CVS3D-7"));
    EXPECT_FALSE(isValidDatabase(database, "CVS3D-8"));
    EXPECT_EQ(database, buildDatabase("CVS3D-7", 5, 5000));
    EXPECT_NE(database, buildDatabase("CVS3D-7", 6, 5000));
    for (std::size_t cut = 0; cut < database.size(); cut += 97)
        EXPECT_FALSE(isValidDatabase({database.begin(), database.begin() + cut}, "CVS3D-7")) << cut;
    auto altered = database;
    altered[2500] ^= 1;
    EXPECT_FALSE(isValidDatabase(altered, "CVS3D-7"));
    EXPECT_EQ(databaseFileName("CVS3D-7"), "CVS3D-7.sdb");
    EXPECT_TRUE(isValidSerialNumber("A_b-9"));
    for (const char* bad : {"", "a/b", "..", "a b", "a\\b", "123456789012345678901234567890123"})
        EXPECT_FALSE(isValidSerialNumber(bad)) << bad;
}

TEST(Socket, ParsesOnlyDottedIpv4) {
    std::uint32_t address = 0;
    EXPECT_TRUE(parseIpv4("127.0.3.21", address));
    EXPECT_EQ(address, 0x7F000315u);
    for (const char* bad : {"", "127.0.0", "127.0.0.1.", "127.0.0.256", "127.0.0.01x", "localhost", "1.2.3.4 ",
                            "-1.0.0.0", "1..2.3", "0127.0.0.1"})
        EXPECT_FALSE(parseIpv4(bad, address)) << bad;
}
