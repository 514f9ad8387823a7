#pragma once

#include <string>

// The error box names no cause, so whoever has to find out why a run failed
// needs it written down: the cause (operation, path, system error) goes to
// standard error and, when it is open, to the diagnostic log. Any thread.
void logFailure(const std::string& cause);
