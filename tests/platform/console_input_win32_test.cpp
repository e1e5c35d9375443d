// Console input on Windows watches the keyboard of the console only. Without a console (standard input
// redirected, as under a test runner) the check answers false at once and never waits.
#include <gtest/gtest.h>

#include "os.h"

namespace {

TEST(ConsoleInput, NothingPendingWithoutAConsoleKey) {
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(os::consoleInputPending());
}

}  // namespace
