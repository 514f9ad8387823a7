#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/publish/PublishedInstaller.h"

// The web servers whose configuration websetup-publish writes.
enum class WebServer { Nginx, Apache, Caddy };

// "nginx", "apache" or "caddy"; nothing for anything else.
std::optional<WebServer> parseWebServer(const std::string& name);

// Why the address path (a folder, "/" by default) or an installer's name
// cannot go into a server configuration as it is (quotes, blanks, control
// characters and the like would need each server's own escaping, or change
// what the block means); nothing when it can.
std::optional<std::string> servedPathProblem(const std::string& path);

// The address path an installer is served at: folder, then its name.
std::string servedPath(const std::string& folder, const std::string& name);

// The configuration that serves each installer from the address folder with
// its Repr-Digest header and its signature beside it, as the given server
// reads it, with comments saying where it goes. Paths must have passed
// servedPathProblem.
std::string serverConfiguration(WebServer server, const std::string& folder,
                                const std::vector<PublishedInstaller>& installers);
