// websetup-stamp: stamps settings onto a built stub, or shows a stub's
// settings.
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "app/SettingKeys.h"
#include "app/StampedBlock.h"
#include "tools/common/ToolMain.h"
#include "tools/stamp/CertificateTable.h"
#include "tools/stamp/PayloadBlock.h"
#include "tools/stamp/ShowSettings.h"
#include "tools/stamp/StampFile.h"
#include "verify/MinisignSecretKey.h"
#include "verify/MinisignSignature.h"
#include "verify/MinisignSigner.h"
#include "verify/PasswordPrompt.h"
#include "verify/StampSignature.h"

namespace {

using toolmain::kBadUsage;
using toolmain::kDone;
constexpr int kUnsuitableStub = 65;

constexpr const char kUsage[] =
    "usage: websetup-stamp [--strict] STUB -o OUT [key=value ...]\n"
    "       websetup-stamp [--strict] --sign-key SECRET_KEY STUB -o OUT [key=value ...]\n"
    "       websetup-stamp --show FILE [--stamp-key KEY]\n"
    "       websetup-stamp --help | --version\n"
    "\n"
    "The first form writes OUT, a copy of STUB with a settings block at its end.\n"
    "In a signed Windows executable the block goes inside the signature's\n"
    "certificate table, so that the copy stays signed. Values are plain UTF-8\n"
    "text; they are encoded for the block so that the stub reads back exactly the\n"
    "text given. A block already stamped at the end of STUB is replaced. OUT may\n"
    "be STUB itself. When a key is given twice, the last value counts. Keys must\n"
    "be non-empty and hold no '=', ';' or white space; \"~signature\" is reserved.\n"
    "A key the stub does not know is passed on to the installer as\n"
    "/key=\"value\"; it is stamped with a warning, or refused with --strict.\n"
    "\n"
    "--sign-key signs the block with a minisign secret key file (its password is\n"
    "asked for on the terminal, or read from the first line of standard input\n"
    "when that is not a terminal). A stub built with WEBSETUP_STAMP_KEY set to\n"
    "the key's public half believes only a block signed so.\n"
    "\n"
    "--show prints the settings the stub FILE will read, decoded, one key=value\n"
    "per line in the order the stub sees them. A value holding a quote, a\n"
    "backslash or a control character, or beginning or ending with a blank, is\n"
    "shown between quotes with \\\", \\\\, \\t, \\n, \\r and \\xHH escapes.\n"
    "A setting the stub drops (a value that decodes to a NUL character, which a\n"
    "block stamped by other means may hold) is shown as dropped, with the reason.\n"
    "A signed block gets one more line naming the signer's key id; with\n"
    "--stamp-key KEY (a minisign public key line) it also says whether a stub\n"
    "built with that stamp key believes the block.\n"
    "Then it prints the installer's parameter text exactly as a stub of this\n"
    "build's product builds it from those settings (shown quoted, with escapes,\n"
    "when it holds a control character), the arguments the installer receives,\n"
    "one per line, and the keys the stub does not know, which it passes through.\n"
    "\n"
    "Exit status: 0 done; 1 a file could not be read or written, or the secret\n"
    "key could not be used; 64 bad usage, or a refused key or value; 65 a signed\n"
    "STUB whose certificate table cannot take the block. Nothing is written\n"
    "unless the status is 0.\n";

constexpr toolmain::Tool kTool{"websetup-stamp", kUsage};

int badUsage(const std::string& message) { return toolmain::badUsage(kTool, message); }

int refuse(const std::string& key, const std::string& problem) {
    std::cerr << "websetup-stamp: refused key \"" << key << "\": " << problem
              << "; nothing written\n";
    return kBadUsage;
}

std::string fileName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The block signed with the secret key at keyPath. It is checked against the
// key's public half before anything is written: a block that no stub would
// believe must not be stamped as if it were signed.
std::string signedBlock(const StampSettings& settings, const std::string& keyPath,
                        const std::string& out) {
    const MinisignSecretKey key = readMinisignSecretKey(
        keyPath, [&keyPath] { return readPassword("Password for " + keyPath + ": "); });
    const std::string comment =
        "timestamp:" + std::to_string(std::time(nullptr)) + "\tfile:" + fileName(out);
    std::string block = makeSignedPayloadBlock(settings, [&](std::string_view signedBytes) {
        return minisignSignature(key, signedBytes, comment);
    });
    const std::string refusal =
        stampRefusal(parseStampedBlock(block), stampSignatureProblem(minisignPublicKeyLine(key)));
    if (!refusal.empty()) throw std::runtime_error("the signed block does not verify: " + refusal);
    return block;
}

// A key the stub does not interpret is still passed on to the installer,
// but is more often a typing error than a parameter of the installer's own.
std::string unknownKeyProblem(const std::string& key) {
    std::string text = "not a key the stub knows";
    if (const auto near = knownKeyDifferingInCase(key)) {
        text += " (did you mean \"" + std::string(*near) + "\"?)";
    }
    return text;
}

int run(const std::vector<std::string>& arguments) {
    if (!arguments.empty() && arguments[0] == "--show") {
        if (arguments.size() == 2) {
            std::cout << describeSettings(arguments[1], "");
            return kDone;
        }
        if (arguments.size() != 4 || arguments[2] != "--stamp-key") {
            return badUsage("--show takes one FILE and optionally --stamp-key KEY");
        }
        if (!parseMinisignPublicKey(arguments[3])) {
            return badUsage("--stamp-key needs a minisign public key, got \"" + arguments[3] +
                            "\"");
        }
        std::cout << describeSettings(arguments[1], arguments[3]);
        return kDone;
    }

    std::string stub;
    std::string out;
    std::string signKey;
    bool strict = false;
    StampSettings settings;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--strict") {
            strict = true;
        } else if (argument == "-o") {
            if (++i == arguments.size()) return badUsage("-o needs a file name");
            out = arguments[i];
        } else if (argument == "--sign-key") {
            if (++i == arguments.size()) return badUsage("--sign-key needs a secret key file");
            signKey = arguments[i];
        } else if (stub.empty()) {
            stub = argument;
        } else {
            const std::size_t equals = argument.find('=');
            if (equals == std::string::npos) {
                return badUsage("expected key=value, got \"" + argument + "\"");
            }
            const std::string key = argument.substr(0, equals);
            const std::string value = argument.substr(equals + 1);
            if (const auto problem = keyProblem(key)) return refuse(key, *problem);
            if (const auto problem = valueProblem(value)) return refuse(key, *problem);
            if (strict && !isKnownSettingKey(key)) return refuse(key, unknownKeyProblem(key));
            settings.insert_or_assign(key, value);
        }
    }
    if (stub.empty()) return badUsage("no STUB given");
    if (out.empty()) return badUsage("no output file given (-o OUT)");
    for (const auto& setting : settings) {
        if (isKnownSettingKey(setting.first)) continue;
        std::cerr << "websetup-stamp: warning: key \"" << setting.first
                  << "\": " << unknownKeyProblem(setting.first)
                  << "; passed through to the installer as /" << setting.first << "=\"...\"\n";
    }
    try {
        requireReadable(stub);
        stampFile(
            stub, out,
            signKey.empty() ? makePayloadBlock(settings) : signedBlock(settings, signKey, out));
    } catch (const UnsuitableCertificateTable& problem) {
        std::cerr << "websetup-stamp: refused '" << stub << "': " << problem.what()
                  << "; nothing written\n";
        return kUnsuitableStub;
    }
    return kDone;
}

}  // namespace

int main(int argc, char** argv) { return toolmain::runTool(kTool, argc, argv, run); }
