#include "tools/publish/ServerConfiguration.h"

#include <algorithm>
#include <string_view>

namespace {

bool safeInPath(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view("/._-~+").find(c) != std::string_view::npos;
}

// Each server's block for one installer: {path} is its address path, {digest}
// its Repr-Digest value.
constexpr std::string_view kNginxBlock = R"(location = {path} {
    types { }
    default_type application/octet-stream;
    add_header Repr-Digest "{digest}" always;
}
location = {path}.minisig {
    types { }
    default_type text/plain;
}
)";

constexpr std::string_view kApacheBlock = R"(<Location "{path}">
    ForceType application/octet-stream
    Header always set Repr-Digest "{digest}"
</Location>
<Location "{path}.minisig">
    ForceType text/plain
</Location>
)";

constexpr std::string_view kCaddyBlock = R"(header {path} Content-Type application/octet-stream
header {path} Repr-Digest "{digest}"
header {path}.minisig Content-Type text/plain
)";

void replaceAll(std::string& text, std::string_view name, const std::string& value) {
    for (std::size_t at = text.find(name); at != std::string::npos;
         at = text.find(name, at + value.size())) {
        text.replace(at, name.size(), value);
    }
}

std::string filledIn(std::string_view pattern, const std::string& path, const std::string& digest) {
    std::string text(pattern);
    replaceAll(text, "{path}", path);
    replaceAll(text, "{digest}", digest);
    return text;
}

}  // namespace

std::optional<WebServer> parseWebServer(const std::string& name) {
    if (name == "nginx") return WebServer::Nginx;
    if (name == "apache") return WebServer::Apache;
    if (name == "caddy") return WebServer::Caddy;
    return std::nullopt;
}

std::optional<std::string> servedPathProblem(const std::string& path) {
    if (!std::all_of(path.begin(), path.end(), safeInPath)) {
        return "\"" + path +
               "\" holds characters other than letters, digits and / . _ - ~ +, which a "
               "server configuration would need escaped";
    }
    if (path.find("..") != std::string::npos) return "\"" + path + "\" holds \"..\"";
    return std::nullopt;
}

std::string servedPath(const std::string& folder, const std::string& name) {
    std::string path = folder;
    if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
    if (path.back() != '/') path += '/';
    return path + name;
}

std::string serverConfiguration(WebServer server, const std::string& folder,
                                const std::vector<PublishedInstaller>& installers) {
    const std::string served = servedPath(folder, "");
    std::string text;
    std::string_view block;
    switch (server) {
        case WebServer::Nginx:
            text = "# nginx: inside the server block that serves " + served +
                   ". An add_header here replaces\n"
                   "# those of the enclosing blocks for these files (nginx's rule): repeat "
                   "any you need.\n";
            block = kNginxBlock;
            break;
        case WebServer::Apache:
            text = "# Apache: inside the <VirtualHost> that serves " + served +
                   "; needs mod_headers.\n";
            block = kApacheBlock;
            break;
        case WebServer::Caddy:
            text = "# Caddy: inside the site block that serves " + served + " with file_server.\n";
            block = kCaddyBlock;
            break;
    }
    for (const PublishedInstaller& installer : installers) {
        text += "\n# " + installer.name + " and its signature " + installer.name + ".minisig\n" +
                filledIn(block, servedPath(folder, installer.name), installer.reprDigest);
    }
    return text;
}
