// The program's own path and network byte order.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "os.h"

namespace {

TEST(ExecutablePath, NamesThisRunningBinary) {
    const std::string path = os::executablePath();
    const std::string name = TEST_BINARY_NAME;
    ASSERT_GT(path.size(), name.size() + 1) << path;
    EXPECT_EQ(path.substr(path.size() - name.size()), name) << path;
    EXPECT_EQ(path[path.size() - name.size() - 1], os::pathSeparator()) << path;
    EXPECT_TRUE(std::filesystem::path(path).is_absolute()) << path;
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
}

TEST(ByteOrder, HostToNetworkPutsTheMostSignificantByteFirst) {
    const std::uint32_t network = os::hostToNetwork32(0x12345678u);
    unsigned char bytes[4];
    std::memcpy(bytes, &network, sizeof bytes);
    EXPECT_EQ(bytes[0], 0x12);
    EXPECT_EQ(bytes[1], 0x34);
    EXPECT_EQ(bytes[2], 0x56);
    EXPECT_EQ(bytes[3], 0x78);

    EXPECT_EQ(os::hostToNetwork32(0), 0u);
    EXPECT_EQ(os::hostToNetwork32(0xFFFFFFFFu), 0xFFFFFFFFu);
}

}  // namespace
