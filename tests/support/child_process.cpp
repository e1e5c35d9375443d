// Starting a test's child program with its output in files, and making sure it dies with the test process.
#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Runs in the child between fork and exec: only async-signal-safe calls.
void redirect(int target, const std::string& path) {
    if (path.empty()) return;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) ::_exit(127);
    ::dup2(fd, target);
    ::close(fd);
}

}  // namespace

pid_t startChild(const std::vector<std::string>& arguments, const ChildStreams& streams) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) return pid;  // the test, or -1 when fork failed
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);  // the test already ended
    if (streams.input >= 0) ::dup2(streams.input, 0);
    redirect(1, streams.outputPath);
    redirect(2, streams.errorPath);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}
