#pragma once

#include <string>
#include <vector>

#include "app/PayloadInfo.h"
#include "setup/SetupFlow.h"

// The stub's own command line. The stub takes no options for its work: it
// runs with what its build fixed and what is stamped onto it. It only
// answers --help and --version, for the people who hand it out and support
// its users; every other argument is ignored, as it always was.

enum class StubRequest { kRun, kHelp, kVersion };

// kHelp when an argument is --help (or -h), else kVersion when one is
// --version, else kRun.
StubRequest stubRequestOf(const std::vector<std::string>& arguments);

// The version, the product (key and display name), its download address and
// the pinned publisher, one line each.
std::string stubVersionText(const std::string& programName, const SetupConfig& config);

// What the program is, the version text, the environment it reads, where it
// logs, the settings stamped onto this copy with the installer parameters the
// stub builds from them, and the settings keys it knows. Reads nothing but
// the environment (no file is made, not even the private folder).
std::string stubHelpText(const std::string& programName, const SetupConfig& config,
                         const PayloadInfo& payload);
