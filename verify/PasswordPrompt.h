#pragma once

#include <string>

// A password for a secret key: from the terminal without echo, after writing
// prompt to standard error, when standard input is a terminal; otherwise the
// next line of standard input (the first line for the first call), so that
// scripts and tests can pipe it. The line end is not part of it. Throws
// std::runtime_error when standard input has no line left.
std::string readPassword(const std::string& prompt);
