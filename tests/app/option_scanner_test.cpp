// The option scanner against the cases the program's messages depend on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "option_scanner.h"

namespace {

struct Scan {
    std::vector<std::string> results;  // "c" or "c=arg" per option, "?" for an error
    int optind = 0;
    std::string diagnostics;
};

Scan scan(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    options::resetScanner();
    Scan result;
    testing::internal::CaptureStderr();
    for (int c; (c = options::getopt(static_cast<int>(arguments.size()), argv.data(), "f:u:n:s:i:hda")) != -1;) {
        std::string entry(1, static_cast<char>(c));
        if (c != '?' && options::optarg != nullptr) entry.append("=").append(options::optarg);
        result.results.push_back(entry);
    }
    result.diagnostics = testing::internal::GetCapturedStderr();
    result.optind = options::optind;
    return result;
}

using Results = std::vector<std::string>;

TEST(OptionScanner, ArgumentInSameOrNextElementAndGroupedFlags) {
    EXPECT_EQ(scan({"prog", "-i", "1.2.3.4"}).results, Results{"i=1.2.3.4"});
    EXPECT_EQ(scan({"prog", "-i1.2.3.4"}).results, Results{"i=1.2.3.4"});
    EXPECT_EQ(scan({"prog", "-da", "-n", "2"}).results, (Results{"d", "a", "n=2"}));
    EXPECT_EQ(scan({"prog", "-dfx.log"}).results, (Results{"d", "f=x.log"}));
    // An option's argument may itself start with a minus sign.
    EXPECT_EQ(scan({"prog", "-u", "-d"}).results, Results{"u=-d"});
}

TEST(OptionScanner, StopsAtFirstNonOptionWithoutReordering) {
    Scan result = scan({"prog", "-i", "1.2.3.4", "extra", "-d"});
    EXPECT_EQ(result.results, Results{"i=1.2.3.4"});
    EXPECT_EQ(result.optind, 3);
    result = scan({"prog", "-", "-d"});
    EXPECT_TRUE(result.results.empty());
    EXPECT_EQ(result.optind, 1);
}

TEST(OptionScanner, DoubleDashEndsOptionsAndIsConsumed) {
    Scan result = scan({"prog", "-d", "--", "-i", "x"});
    EXPECT_EQ(result.results, Results{"d"});
    EXPECT_EQ(result.optind, 3);
}

TEST(OptionScanner, MissingArgumentDiagnosticHasNoLineEnd) {
    Scan result = scan({"prog", "-d", "-i"});
    EXPECT_EQ(result.results, (Results{"d", "?"}));
    EXPECT_EQ(result.diagnostics, "prog: option requires an argument -- i");
    EXPECT_EQ(options::optopt, 'i');
}

TEST(OptionScanner, IllegalOptionsAdvanceThroughGroups) {
    Scan result = scan({"prog", "-xd", "-:"});
    EXPECT_EQ(result.results, (Results{"?", "d", "?"}));
    EXPECT_EQ(result.diagnostics, "prog: illegal option -- xprog: illegal option -- :");
    EXPECT_EQ(result.optind, 3);
}

TEST(OptionScanner, LaterOccurrenceIsReturnedAgain) {
    EXPECT_EQ(scan({"prog", "-i", "a", "-i", "b"}).results, (Results{"i=a", "i=b"}));
}

}  // namespace
