#include "tools/common/ToolMain.h"

#include <exception>
#include <iostream>

#include "websetup/BuildConfig.h"

namespace toolmain {

int runTool(const Tool& tool, int argc, char** argv, const Run& run) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::cout << tool.usage;
        return kDone;
    }
    if (arguments.size() == 1 && arguments[0] == "--version") {
        std::cout << tool.name << ' ' << buildconfig::kVersion << '\n';
        return kDone;
    }
    try {
        return run(arguments);
    } catch (const std::exception& error) {
        std::cerr << tool.name << ": " << error.what() << '\n';
        return kIoFailure;
    }
}

int badUsage(const Tool& tool, const std::string& message) {
    std::cerr << tool.name << ": " << message << "\n\n" << tool.usage;
    return kBadUsage;
}

}  // namespace toolmain
