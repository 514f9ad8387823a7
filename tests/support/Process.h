#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    // The exit status, or minus the signal number when a signal ended it.
    int exitCode = 0;
    std::string out;
    std::string err;
};

// Runs the program command[0] (a path; PATH is not searched) with the rest as
// its arguments, the inherited environment and an empty standard input, and
// waits for it to end, capturing both output streams. Throws
// std::runtime_error when the program cannot be started.
ProcessResult runProcess(const std::vector<std::string>& command);

}  // namespace testsupport
