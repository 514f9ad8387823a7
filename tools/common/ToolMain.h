#pragma once

#include <functional>
#include <string>
#include <vector>

// What the websetup tools share on their command line. Usage errors exit with
// 64 (sysexits' EX_USAGE) in every tool: websetup-fetch cannot use 2, which is
// one of the downloader's error codes it exits with.
namespace toolmain {

inline constexpr int kDone = 0;
inline constexpr int kIoFailure = 1;
inline constexpr int kBadUsage = 64;

struct Tool {
    // As the tool's messages and --version name it.
    const char* name;
    // The --help text, also shown after a usage error.
    const char* usage;
};

using Run = std::function<int(const std::vector<std::string>& arguments)>;

// Answers --help (or -h) and --version given alone; otherwise calls run with
// the arguments. An exception escaping run is reported as "<name>: <what>"
// and ends with kIoFailure: the tools throw only for files they cannot read
// or write.
int runTool(const Tool& tool, int argc, char** argv, const Run& run);

// Prints "<name>: <message>" and the usage text on stderr; returns kBadUsage.
int badUsage(const Tool& tool, const std::string& message);

}  // namespace toolmain
