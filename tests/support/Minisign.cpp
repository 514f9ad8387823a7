#include "support/Minisign.h"

#include <stdexcept>
#include <utility>

#include "support/Process.h"

namespace testsupport {
namespace {

constexpr const char kMinisign[] = "/usr/bin/minisign";

ProcessResult mustRun(const std::vector<std::string>& command) {
    ProcessResult result = runProcess(command);
    if (result.exitCode != 0) {
        throw std::runtime_error(command[0] + " failed: " + result.err + result.out);
    }
    return result;
}

}  // namespace

MinisignKey::MinisignKey(std::string password) : m_password(std::move(password)) {
    const std::string publicFile = m_sandbox.file("key.pub");
    std::vector<std::string> generate{"-G", "-p", publicFile, "-s", secretKeyFile()};
    if (m_password.empty()) generate.emplace_back("-W");
    run(generate);
    const std::string text = readFile(publicFile);
    // The second line; the first is the untrusted comment, which ends with
    // the key id.
    const std::string comment = text.substr(0, text.find('\n'));
    m_keyId = comment.substr(comment.rfind(' ') + 1);
    const std::size_t start = comment.size() + 1;
    m_publicKey = text.substr(start, text.find('\n', start) - start);
}

std::string MinisignKey::sign(const std::string& path, bool legacy) const {
    const std::string signature = m_sandbox.file("last.minisig");
    std::vector<std::string> arguments{"-S", "-s", secretKeyFile(), "-x", signature, "-m", path};
    if (legacy) arguments.emplace_back("-l");
    run(arguments);
    return readFile(signature);
}

void MinisignKey::run(std::vector<std::string> arguments) const {
    if (m_password.empty()) {
        arguments.insert(arguments.begin(), kMinisign);
        mustRun(arguments);
        return;
    }
    // minisign reads a piped password line, once for signing and twice
    // (with its confirmation) for a new key.
    arguments.insert(
        arguments.begin(),
        {"/bin/sh", "-c",
         "printf '%s\\n%s\\n' \"$0\" \"$0\" | " + std::string(kMinisign) + " \"$@\"", m_password});
    mustRun(arguments);
}

std::string base64Digest(const std::string& algorithm, const std::string& path) {
    const ProcessResult result = mustRun(
        {"/bin/sh", "-c", "openssl dgst -" + algorithm + " -binary \"$0\" | base64 -w0", path});
    return result.out;
}

}  // namespace testsupport
