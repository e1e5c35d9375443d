// Console input on Windows: standard input may be a console, a pipe or a file. A pipe answers "pending" while
// data waits or once its writer has gone (the read then reports the end); a file always does. Console keys
// cannot be produced under wine, so only the pipe and file cases run here.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "os.h"

namespace {

// Puts another handle in place of the standard input handle for the length of a test.
class StandardInputRedirect {
public:
    explicit StandardInputRedirect(HANDLE replacement) : saved_(::GetStdHandle(STD_INPUT_HANDLE)) {
        ::SetStdHandle(STD_INPUT_HANDLE, replacement);
    }
    ~StandardInputRedirect() { ::SetStdHandle(STD_INPUT_HANDLE, saved_); }
    StandardInputRedirect(const StandardInputRedirect&) = delete;
    StandardInputRedirect& operator=(const StandardInputRedirect&) = delete;

private:
    HANDLE saved_;
};

struct Pipe {
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    Pipe() { EXPECT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 0)); }
    ~Pipe() {
        closeWriteEnd();
        ::CloseHandle(readEnd);
    }
    void closeWriteEnd() {
        if (writeEnd != nullptr) ::CloseHandle(writeEnd);
        writeEnd = nullptr;
    }
};

TEST(ConsoleInput, PipeIsPendingWhileDataWaitsOrItsWriterHasGone) {
    Pipe pipe;
    StandardInputRedirect redirect(pipe.readEnd);
    EXPECT_FALSE(os::consoleInputPending()) << "an open, empty pipe";

    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(pipe.writeEnd, "\n", 1, &written, nullptr));
    EXPECT_TRUE(os::consoleInputPending()) << "ENTER written by a script";
    char c = 0;
    DWORD read = 0;
    ASSERT_TRUE(::ReadFile(pipe.readEnd, &c, 1, &read, nullptr));
    EXPECT_FALSE(os::consoleInputPending()) << "the line was consumed";

    pipe.closeWriteEnd();
    EXPECT_TRUE(os::consoleInputPending()) << "the end of input must not be waited for";
}

TEST(ConsoleInput, FileIsAlwaysPending) {
    const std::string path = testing::TempDir() + "console-input-file.txt";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    {
        StandardInputRedirect redirect(handle);
        EXPECT_TRUE(os::consoleInputPending());
    }
    ::CloseHandle(handle);
    std::remove(path.c_str());
}

TEST(ConsoleInput, NoStandardInputIsNeverPending) {
    StandardInputRedirect redirect(nullptr);
    EXPECT_FALSE(os::consoleInputPending());
}

}  // namespace
