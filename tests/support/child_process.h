// Starting programs for integration and end-to-end tests (Linux): the child is killed when the test process
// dies, so a test that crashes or is stopped by a time-out leaves no sensor or device behind holding its
// address and ports.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct ChildStreams {
    int input = -1;          // file descriptor for the child's standard input; -1 keeps the test's
    std::string outputPath;  // file for standard output; empty keeps the test's
    std::string errorPath;   // file for standard error; empty keeps the test's
};

// Starts `arguments[0]` with `arguments`; the process id, or -1 when it could not be started.
pid_t startChild(const std::vector<std::string>& arguments, const ChildStreams& streams = {});
