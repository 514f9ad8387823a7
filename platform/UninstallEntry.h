#pragma once

#include <optional>
#include <string>

namespace platform {

// Stand-in for the machine-wide uninstall entries of the registry: one key
// file per product in a folder, each line "ValueName=value".

// The environment variable that replaces the folder, for tests and
// packaging.
inline constexpr const char kUninstallFolderVariable[] = "WEBSETUP_UNINSTALL_DIR";
inline constexpr const char kDefaultUninstallFolder[] = "/etc/websetup/uninstall";

// $WEBSETUP_UNINSTALL_DIR when set and not empty, else the default folder.
std::string uninstallEntryFolder();

// The text after "valueName=" on the first such line of the entry file
// <uninstallEntryFolder()>/<entry> (a trailing CR dropped), as stored.
// std::nullopt when the entry cannot be read or has no such line.
std::optional<std::string> readUninstallValue(const std::string& entry,
                                              const std::string& valueName);

// Whether a file or directory exists at path (a link counts by its target).
bool pathExists(const std::string& path);

}  // namespace platform
