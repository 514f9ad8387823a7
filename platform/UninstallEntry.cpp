#include "platform/UninstallEntry.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

namespace platform {

std::string uninstallEntryFolder() {
    const char* folder = std::getenv(kUninstallFolderVariable);
    return folder != nullptr && *folder != '\0' ? folder : kDefaultUninstallFolder;
}

std::optional<std::string> readUninstallValue(const std::string& entry,
                                              const std::string& valueName) {
    std::ifstream file(uninstallEntryFolder() + "/" + entry, std::ios::binary);
    const std::string prefix = valueName + "=";
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line.substr(prefix.size());
    }
    return std::nullopt;
}

bool pathExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

}  // namespace platform
