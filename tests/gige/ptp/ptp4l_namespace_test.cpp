// The Ptp features end to end: a real ptp4l master and slave in a private network namespace, the demo device
// asking them, and Aravis's arv-tool latching and reading the features as a client would.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "script_output.h"

namespace {

using script_output::run;
using script_output::section;

}  // namespace

TEST(Ptp4l, FeaturesFollowTheHostsPtp4l) {
    if (std::system("unshare -n true > /dev/null 2>&1") != 0) GTEST_SKIP() << "unshare -n is not permitted here";
    if (std::system("command -v ptp4l > /dev/null 2>&1") != 0) GTEST_SKIP() << "ptp4l is not installed";
    const char* tmp = std::getenv("TMPDIR");
    std::string work = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/ptp4l-ns-XXXXXX";
    ASSERT_NE(mkdtemp(work.data()), nullptr);
    const std::string output = run(std::string("unshare -n sh ") + SOURCE_DIR + "/ptp4l_namespace_check.sh " +
                                   DEMO_DEVICE_PATH + " " + work + " 2>&1");

    const std::string alone = section(output, "without ptp4l");
    EXPECT_NE(alone.find("PtpEnable = false"), std::string::npos) << output;
    EXPECT_NE(alone.find("PtpStatus = Disabled"), std::string::npos) << output;

    // ptp4l running free never locks its servo, so its slave port stays uncalibrated while it measures the
    // offset; a locked one would be Slave and Locked.
    const std::string slave = section(output, "slave");
    EXPECT_NE(slave.find("PtpEnable = true"), std::string::npos) << output;
    EXPECT_TRUE(std::regex_search(slave, std::regex("PtpStatus = Uncalibrated\nPtpServoStatus = Unknown|"
                                                    "PtpStatus = Slave\nPtpServoStatus = Locked")))
        << output;
    EXPECT_TRUE(std::regex_search(slave, std::regex("PtpOffsetFromMaster = -?[1-9][0-9]* ns"))) << output;

    const std::string master = section(output, "master");
    EXPECT_NE(master.find("PtpEnable = true"), std::string::npos) << output;
    EXPECT_NE(master.find("PtpStatus = Master"), std::string::npos) << output;
    EXPECT_NE(master.find("PtpServoStatus = Unknown"), std::string::npos) << output;
    run("rm -rf " + work);
}
