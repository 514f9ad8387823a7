// websetup-publish: signs installers for stubs that pin the publisher's key,
// prints the digests their server announces and the server configuration
// that does so, and makes key pairs.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/ToolMain.h"
#include "tools/publish/OutputFiles.h"
#include "tools/publish/PublishedInstaller.h"
#include "tools/publish/ServerConfiguration.h"
#include "verify/MinisignSecretKey.h"
#include "verify/MinisignSignature.h"
#include "verify/PasswordPrompt.h"

namespace {

using toolmain::kDone;
using toolmain::kIoFailure;
// As sysexits' EX_DATAERR.
constexpr int kUnreadableKey = 65;

constexpr const char kUsage[] =
    "usage: websetup-publish --key SECRET_KEY [--server nginx|apache|caddy [--path URLPATH]]\n"
    "                        INSTALLER...\n"
    "       websetup-publish --generate PUBLIC_FILE SECRET_FILE\n"
    "       websetup-publish --help | --version\n"
    "\n"
    "The first form signs each INSTALLER with the minisign secret key SECRET_KEY,\n"
    "writing INSTALLER.minisig beside it (replaced whole, never half-written), and\n"
    "prints each installer's Repr-Digest value (its sha-256 and sha-512 digests) for\n"
    "its server to announce. A stub built with the key's public half pinned fetches\n"
    "the .minisig from beside the installer's address and starts only an installer\n"
    "it verifies. The password of an encrypted key is read from the terminal, or\n"
    "from the first line of standard input when that is not a terminal.\n"
    "\n"
    "--server prints, instead of the digests, the configuration of that web server\n"
    "which serves each installer with its Repr-Digest header and its .minisig\n"
    "beside it; the per-file lines go to standard error. --path gives the address\n"
    "path of the folder the installers are served from (default /): INSTALLER is\n"
    "served at URLPATH/NAME, NAME being its file name.\n"
    "\n"
    "--generate makes a new key pair in minisign's formats: the secret key in\n"
    "SECRET_FILE (readable by its owner only), the public key in PUBLIC_FILE, and\n"
    "prints the public key line to pin (-DWEBSETUP_PUBLISHER_KEY=...). The password\n"
    "is asked twice; an empty one leaves the secret key unencrypted. Existing files\n"
    "are never overwritten.\n"
    "\n"
    "Exit status: 0 done; 1 a file could not be read or written; 64 bad usage\n"
    "(the two passwords of --generate differing included); 65 SECRET_KEY cannot be\n"
    "read as a key (not a minisign secret key, wrong password, damaged).\n";

constexpr toolmain::Tool kTool{"websetup-publish", kUsage};

int badUsage(const std::string& message) { return toolmain::badUsage(kTool, message); }

bool exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

int generate(const std::string& publicPath, const std::string& secretPath) {
    for (const std::string& path : {publicPath, secretPath}) {
        if (exists(path)) {
            std::cerr << "websetup-publish: " << path << " exists; not overwritten\n";
            return kIoFailure;
        }
    }
    const std::string password = readPassword("Password for the new key (empty: none): ");
    if (readPassword("The same password again: ") != password) {
        return badUsage("the two passwords differ; nothing written");
    }
    const MinisignSecretKey key = generateMinisignSecretKey();
    createNewFile(secretPath, minisignSecretKeyText(key, password), 0600);
    try {
        createNewFile(publicPath, minisignPublicKeyText(key), 0644);
    } catch (const std::exception&) {
        ::unlink(secretPath.c_str());
        throw;
    }
    std::cout << minisignPublicKeyLine(key) << '\n';
    std::cerr << "websetup-publish: key " << minisignKeyIdText(key.keyId) << " written to "
              << secretPath << " (secret) and " << publicPath
              << " (public); pin the line above in a stub build\n";
    return kDone;
}

struct PublishArguments {
    std::string key;
    std::optional<WebServer> server;
    std::optional<std::string> folder;
    std::vector<std::string> installers;
};

int publish(const PublishArguments& arguments) {
    const MinisignSecretKey key = readMinisignSecretKey(
        arguments.key, [&] { return readPassword("Password for " + arguments.key + ": "); });
    std::vector<PublishedInstaller> published;
    for (const std::string& installer : arguments.installers) {
        published.push_back(publishInstaller(installer, key));
        const PublishedInstaller& done = published.back();
        (arguments.server ? std::cerr : std::cout)
            << done.path << "\n    signature: " << done.signaturePath << " (key "
            << minisignKeyIdText(key.keyId) << ")\n    Repr-Digest: " << done.reprDigest << '\n';
    }
    if (arguments.server) {
        std::cout << serverConfiguration(*arguments.server, arguments.folder.value_or("/"),
                                         published);
    }
    return kDone;
}

int run(const std::vector<std::string>& arguments) {
    if (!arguments.empty() && arguments[0] == "--generate") {
        if (arguments.size() != 3) return badUsage("--generate takes PUBLIC_FILE SECRET_FILE");
        if (arguments[1] == arguments[2]) return badUsage("the two key files are one file");
        return generate(arguments[1], arguments[2]);
    }

    PublishArguments publishing;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool takesValue =
            argument == "--key" || argument == "--server" || argument == "--path";
        if (takesValue && i + 1 == arguments.size()) return badUsage(argument + " needs a value");
        if (argument == "--key") {
            publishing.key = arguments[++i];
        } else if (argument == "--server") {
            publishing.server = parseWebServer(arguments[++i]);
            if (!publishing.server) {
                return badUsage("unknown server \"" + arguments[i] + "\" (nginx, apache or caddy)");
            }
        } else if (argument == "--path") {
            publishing.folder = arguments[++i];
        } else if (argument.rfind("--", 0) == 0) {
            return badUsage("unknown option " + argument);
        } else {
            publishing.installers.push_back(argument);
        }
    }
    if (publishing.key.empty()) return badUsage("no secret key given (--key SECRET_KEY)");
    if (publishing.installers.empty()) return badUsage("no INSTALLER given");
    if (publishing.folder && !publishing.server) return badUsage("--path goes with --server");
    if (publishing.server) {
        std::vector<std::string> paths{publishing.folder.value_or("/")};
        for (const std::string& installer : publishing.installers) {
            paths.push_back(std::filesystem::path(installer).filename().string());
        }
        for (const std::string& path : paths) {
            if (const auto problem = servedPathProblem(path)) return badUsage(*problem);
        }
    }
    try {
        return publish(publishing);
    } catch (const UnreadableSecretKey& problem) {
        std::cerr << "websetup-publish: " << problem.what() << "; nothing signed\n";
        return kUnreadableKey;
    }
}

}  // namespace

int main(int argc, char** argv) { return toolmain::runTool(kTool, argc, argv, run); }
