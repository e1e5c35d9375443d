// Console input on Linux: the check polls standard input without waiting. It answers true whenever a read
// would return at once, which includes the end of input (the read then reports the end instead of blocking);
// while an open pipe or terminal has nothing to read it answers false.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "os.h"

namespace {

// Puts another file descriptor in place of standard input for the length of a test.
class StandardInputRedirect {
public:
    explicit StandardInputRedirect(int replacement) : saved_(::dup(STDIN_FILENO)) {
        if (replacement >= 0) {
            ::dup2(replacement, STDIN_FILENO);
        } else {
            ::close(STDIN_FILENO);
        }
    }
    ~StandardInputRedirect() {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
    }
    StandardInputRedirect(const StandardInputRedirect&) = delete;
    StandardInputRedirect& operator=(const StandardInputRedirect&) = delete;

private:
    int saved_;
};

// Both ends of a pipe, closed on destruction.
struct Pipe {
    int ends[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe(ends), 0); }
    ~Pipe() {
        closeWriteEnd();
        if (ends[0] >= 0) ::close(ends[0]);
    }
    void closeWriteEnd() {
        if (ends[1] >= 0) ::close(ends[1]);
        ends[1] = -1;
    }
    int readEnd() const { return ends[0]; }
    int writeEnd() const { return ends[1]; }
};

TEST(ConsoleInput, NothingPendingWhileAnOpenPipeIsEmpty) {
    Pipe pipe;
    StandardInputRedirect redirect(pipe.readEnd());
    EXPECT_FALSE(os::consoleInputPending());
}

TEST(ConsoleInput, PendingWhileALineWaits) {
    Pipe pipe;
    StandardInputRedirect redirect(pipe.readEnd());
    ASSERT_EQ(::write(pipe.writeEnd(), "\n", 1), 1);
    EXPECT_TRUE(os::consoleInputPending());

    char c = 0;
    ASSERT_EQ(::read(STDIN_FILENO, &c, 1), 1);
    EXPECT_EQ(c, '\n');
    EXPECT_FALSE(os::consoleInputPending()) << "the line was consumed";
}

TEST(ConsoleInput, EndOfInputIsReportedSoTheReadReturnsAtOnce) {
    Pipe pipe;
    StandardInputRedirect redirect(pipe.readEnd());
    pipe.closeWriteEnd();
    EXPECT_TRUE(os::consoleInputPending());
    char c = 0;
    EXPECT_EQ(::read(STDIN_FILENO, &c, 1), 0);

    const int devNull = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(devNull, 0);
    StandardInputRedirect nullInput(devNull);
    ::close(devNull);
    EXPECT_TRUE(os::consoleInputPending());
}

TEST(ConsoleInput, ClosedStandardInputHasNothingPending) {
    StandardInputRedirect redirect(-1);
    EXPECT_FALSE(os::consoleInputPending());
}

}  // namespace
