// Secret keys and signatures against the real minisign tool (Debian's
// package): keys it makes are read and sign what it and our verifier accept;
// keys we make are ones it signs with.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/ReadOnlyFile.h"
#include "support/Process.h"
#include "support/Sandbox.h"
#include "verify/MinisignSecretKey.h"
#include "verify/MinisignSignature.h"
#include "verify/MinisignSigner.h"

namespace {

using testsupport::readFile;
using testsupport::runProcess;
using testsupport::Sandbox;

constexpr const char kMinisign[] = "/usr/bin/minisign";

// minisign with the password piped in (its prompts read standard input when
// it is not a terminal); no password for a key without one.
testsupport::ProcessResult minisign(const std::string& arguments, const std::string& password) {
    return runProcess(
        {"/bin/sh", "-c",
         "printf '%s\\n%s\\n' \"$0\" \"$0\" | " + std::string(kMinisign) + " " + arguments,
         password});
}

std::string secondLine(const std::string& text) {
    const std::size_t start = text.find('\n') + 1;
    return text.substr(start, text.find('\n', start) - start);
}

// Checks the signature both ways: the tool's -V and our own verifier.
void expectAccepted(const std::string& publicFile, const std::string& signedFile,
                    const std::string& signatureFile) {
    const testsupport::ProcessResult tool =
        runProcess({kMinisign, "-V", "-p", publicFile, "-m", signedFile, "-x", signatureFile});
    EXPECT_EQ(tool.exitCode, 0) << tool.err << tool.out;

    const std::optional<MinisignPublicKey> key = parseMinisignPublicKey(readFile(publicFile));
    ASSERT_TRUE(key);
    std::string error;
    const std::optional<MinisignSignature> signature =
        parseMinisignSignature(readFile(signatureFile), error);
    ASSERT_TRUE(signature) << error;
    const std::unique_ptr<platform::ReadOnlyFile> file =
        platform::ReadOnlyFile::open(signedFile, error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(verifyMinisignSignature(*file, *signature, *key, nullptr), "");
}

struct ToolKey {
    std::string password;
    std::string publicFile;
    std::string secretFile;
};

class MinisignKeys : public ::testing::Test {
protected:
    // One key of each kind for the whole suite: an encrypted key costs a
    // gigabyte of scrypt each time it is made or read.
    static void SetUpTestSuite() {
        s_sandbox = new Sandbox;
        s_plain = makeToolKey("plain", "");
        s_encrypted = makeToolKey("encrypted", "correct horse");
    }
    static void TearDownTestSuite() {
        delete s_sandbox;
        s_sandbox = nullptr;
    }

    static ToolKey makeToolKey(const std::string& name, const std::string& password) {
        ToolKey key{password, s_sandbox->file(name + ".pub"), s_sandbox->file(name + ".key")};
        const testsupport::ProcessResult made =
            minisign("-G " + std::string(password.empty() ? "-W " : "") + "-p " + key.publicFile +
                         " -s " + key.secretFile,
                     password);
        if (made.exitCode != 0) throw std::runtime_error("minisign -G: " + made.err);
        return key;
    }

    static Sandbox* s_sandbox;
    static ToolKey s_plain;
    static ToolKey s_encrypted;
};

Sandbox* MinisignKeys::s_sandbox = nullptr;
ToolKey MinisignKeys::s_plain;
ToolKey MinisignKeys::s_encrypted;

TEST_F(MinisignKeys, ToolKeysSignWhatBothVerifiersAccept) {
    for (const ToolKey* toolKey : {&s_plain, &s_encrypted}) {
        SCOPED_TRACE(toolKey->password.empty() ? "without a password" : "with a password");
        int asked = 0;
        const MinisignSecretKey key = readMinisignSecretKey(toolKey->secretFile, [&] {
            ++asked;
            return toolKey->password;
        });
        EXPECT_EQ(asked, toolKey->password.empty() ? 0 : 1);
        EXPECT_EQ(minisignPublicKeyLine(key), secondLine(readFile(toolKey->publicFile)));

        const std::string installer = s_sandbox->writeFile("setup.bin", std::string(70000, 'w'));
        const std::string comment = "timestamp:1700000000\tfile:setup.bin\thashed";
        const std::string signatureFile = s_sandbox->writeFile(
            "setup.bin.minisig", minisignSignature(key, readFile(installer), comment));
        expectAccepted(toolKey->publicFile, installer, signatureFile);
        EXPECT_NE(readFile(signatureFile).find("trusted comment: " + comment + "\n"),
                  std::string::npos);
    }
}

TEST_F(MinisignKeys, KeysThatCannotSignAreRefusedWithTheReason) {
    std::string damaged = readFile(s_plain.secretFile);
    // A character inside the seed: no checksum guards a key minisign left
    // unencrypted, so only the halves' mismatch shows it.
    char& seedCharacter = damaged[damaged.find('\n') + 1 + 90];
    seedCharacter = seedCharacter == 'A' ? 'B' : 'A';
    const struct {
        const char* name;
        std::string path;
        std::string password;
        std::string message;
    } cases[] = {
        {"wrong password", s_encrypted.secretFile, "wrong horse",
         ": wrong password (or the key is damaged)"},
        {"a public key", s_plain.publicFile, "", ": not a minisign secret key"},
        {"a signature", s_sandbox->writeFile("x.minisig", "untrusted comment: x\nRUQ=\n"), "",
         ": not a minisign secret key"},
        {"damaged seed", s_sandbox->writeFile("damaged.key", damaged), "",
         ": the key is damaged (its halves do not match)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            readMinisignSecretKey(c.path, [&] { return c.password; });
            ADD_FAILURE() << "read";
        } catch (const UnreadableSecretKey& error) {
            EXPECT_EQ(error.what(), c.path + c.message);
        }
    }
    // A file that is not there is an I/O failure, not a bad key.
    const std::string missing = s_sandbox->file("missing.key");
    try {
        readMinisignSecretKey(missing, [] { return std::string(); });
        ADD_FAILURE() << "read";
    } catch (const UnreadableSecretKey&) {
        ADD_FAILURE() << "taken for a bad key";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(missing), std::string::npos);
    }
}

TEST_F(MinisignKeys, GeneratedKeysSignWithTheTool) {
    for (const std::string& password : {std::string(), std::string("tr0ub4dor")}) {
        SCOPED_TRACE(password.empty() ? "without a password" : "with a password");
        const MinisignSecretKey key = generateMinisignSecretKey();
        const std::string publicFile = s_sandbox->writeFile("new.pub", minisignPublicKeyText(key));
        const std::string secretFile =
            s_sandbox->writeFile("new.key", minisignSecretKeyText(key, password));
        const std::string installer = s_sandbox->writeFile("other.bin", "payload");
        const std::string signatureFile = s_sandbox->file("other.bin.minisig");
        const testsupport::ProcessResult signedByTool =
            minisign("-S -s " + secretFile + " -m " + installer + " -x " + signatureFile, password);
        ASSERT_EQ(signedByTool.exitCode, 0) << signedByTool.err << signedByTool.out;
        expectAccepted(publicFile, installer, signatureFile);

        const MinisignSecretKey readBack =
            readMinisignSecretKey(secretFile, [&] { return password; });
        EXPECT_EQ(readBack.keyId, key.keyId);
        EXPECT_EQ(readBack.seed, key.seed);
    }
}

}  // namespace
