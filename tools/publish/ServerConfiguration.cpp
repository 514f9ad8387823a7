#include "tools/publish/ServerConfiguration.h"

#include <algorithm>

namespace {

bool safeInPath(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view("/._-~+").find(c) != std::string_view::npos;
}

std::string nginxBlock(const std::string& path, const PublishedInstaller& installer) {
    return "location = " + path +
           " {\n"
           "    types { }\n"
           "    default_type application/octet-stream;\n"
           "    add_header Repr-Digest \"" +
           installer.reprDigest +
           "\" always;\n"
           "}\n"
           "location = " +
           path +
           ".minisig {\n"
           "    types { }\n"
           "    default_type text/plain;\n"
           "}\n";
}

std::string apacheBlock(const std::string& path, const PublishedInstaller& installer) {
    return "<Location \"" + path +
           "\">\n"
           "    ForceType application/octet-stream\n"
           "    Header always set Repr-Digest \"" +
           installer.reprDigest +
           "\"\n"
           "</Location>\n"
           "<Location \"" +
           path +
           ".minisig\">\n"
           "    ForceType text/plain\n"
           "</Location>\n";
}

std::string caddyBlock(const std::string& path, const PublishedInstaller& installer) {
    return "header " + path +
           " Content-Type application/octet-stream\n"
           "header " +
           path + " Repr-Digest \"" + installer.reprDigest +
           "\"\n"
           "header " +
           path + ".minisig Content-Type text/plain\n";
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
    std::string (*block)(const std::string&, const PublishedInstaller&) = nullptr;
    switch (server) {
        case WebServer::Nginx:
            text = "# nginx: inside the server block that serves " + served +
                   ". An add_header here replaces\n"
                   "# those of the enclosing blocks for these files (nginx's rule): repeat "
                   "any you need.\n";
            block = nginxBlock;
            break;
        case WebServer::Apache:
            text = "# Apache: inside the <VirtualHost> that serves " + served +
                   "; needs mod_headers.\n";
            block = apacheBlock;
            break;
        case WebServer::Caddy:
            text = "# Caddy: inside the site block that serves " + served + " with file_server.\n";
            block = caddyBlock;
            break;
    }
    for (const PublishedInstaller& installer : installers) {
        text += "\n# " + installer.name + " and its signature " + installer.name + ".minisig\n" +
                block(servedPath(folder, installer.name), installer);
    }
    return text;
}
