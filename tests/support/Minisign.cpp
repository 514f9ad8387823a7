#include "support/Minisign.h"

#include <stdexcept>

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

MinisignKey::MinisignKey() {
    const std::string publicFile = m_sandbox.file("key.pub");
    mustRun({kMinisign, "-G", "-W", "-p", publicFile, "-s", m_sandbox.file("key.sec")});
    const std::string text = readFile(publicFile);
    // The second line; the first is the untrusted comment.
    const std::size_t start = text.find('\n') + 1;
    m_publicKey = text.substr(start, text.find('\n', start) - start);
}

std::string MinisignKey::sign(const std::string& path, bool legacy) const {
    const std::string signature = m_sandbox.file("last.minisig");
    std::vector<std::string> command{kMinisign, "-S",      "-s", m_sandbox.file("key.sec"),
                                     "-x",      signature, "-m", path};
    if (legacy) command.emplace_back("-l");
    mustRun(command);
    return readFile(signature);
}

std::string base64Digest(const std::string& algorithm, const std::string& path) {
    const ProcessResult result = mustRun(
        {"/bin/sh", "-c", "openssl dgst -" + algorithm + " -binary \"$0\" | base64 -w0", path});
    return result.out;
}

}  // namespace testsupport
