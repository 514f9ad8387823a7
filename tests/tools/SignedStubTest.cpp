// websetup-stamp on signed Windows executables: the stamped copy must still
// verify with an independent signing tool, and the stub's reader must find
// its settings in it.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>

#include "app/PayloadInfo.h"
#include "setup/StampedSettings.h"
#include "support/Minisign.h"
#include "support/Occurrences.h"
#include "support/Process.h"
#include "support/Sandbox.h"
#include "text/TextConversion.h"
#include "tools/ShownSettings.h"

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

enum class ImageKind { pe32, pe32Plus };

constexpr std::size_t kOptionalHeader = 0x58;
constexpr std::size_t kChecksumField = kOptionalHeader + 64;

std::size_t securityEntry(ImageKind kind) {
    return kOptionalHeader + (kind == ImageKind::pe32 ? 96 : 112) + 4 * 8;
}

std::uint32_t read32(const std::string& file, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(file[offset + i]);
    return value;
}

void write(std::string& file, std::size_t offset, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) file[offset + i] = static_cast<char>(value >> (8 * i));
}

// The smallest Windows executable a signing tool accepts: headers and one
// section of constant data that holds the marker text, as the stub's
// constant data does.
std::string minimalExecutable(ImageKind kind) {
    const bool plus = kind == ImageKind::pe32Plus;
    const std::size_t optionalHeaderSize = plus ? 240 : 224;
    std::string image(0x400, '\0');
    image.replace(0, 2, "MZ");
    write(image, 0x3C, 0x40, 4);
    image.replace(0x40, 4, "PE\0\0"s);
    write(image, 0x44, plus ? 0x8664 : 0x14C, 2);  // machine
    write(image, 0x46, 1, 2);                      // sections
    write(image, 0x54, optionalHeaderSize, 2);
    write(image, 0x56, plus ? 0x22 : 0x102, 2);  // an executable image

    const std::size_t o = kOptionalHeader;
    write(image, o, plus ? 0x20B : 0x10B, 2);
    write(image, o + 8, 0x200, 4);    // initialised data
    write(image, o + 16, 0x1000, 4);  // entry point
    write(image, o + 20, 0x1000, 4);  // base of code
    if (plus) {
        write(image, o + 24, 0x140000000, 8);
    } else {
        write(image, o + 24, 0x1000, 4);
        write(image, o + 28, 0x400000, 4);
    }
    write(image, o + 32, 0x1000, 4);                       // section alignment
    write(image, o + 36, 0x200, 4);                        // file alignment
    write(image, o + 40, 6, 2);                            // system version
    write(image, o + 48, 6, 2);                            // subsystem version
    write(image, o + 56, 0x2000, 4);                       // image size
    write(image, o + 60, 0x200, 4);                        // header size
    write(image, o + 68, 3, 2);                            // console subsystem
    write(image, securityEntry(kind) - 4 * 8 - 4, 16, 4);  // data directory entries

    const std::size_t section = o + optionalHeaderSize;
    image.replace(section, 6, ".rdata");
    write(image, section + 8, 0x200, 4);        // size in memory
    write(image, section + 12, 0x1000, 4);      // address in memory
    write(image, section + 16, 0x200, 4);       // size in the file
    write(image, section + 20, 0x200, 4);       // place in the file
    write(image, section + 36, 0x40000040, 4);  // initialised, readable
    const std::string constants = "constant data PayloadInfo:\0after=it;"s;
    image.replace(0x200, constants.size(), constants);
    return image;
}

std::size_t countMarkers(const std::string& content) {
    return testsupport::countOccurrences(content, kPayloadMarker);
}

class SignedStub : public ::testing::Test {
protected:
    void SetUp() override {
        const auto made = testsupport::runProcess(
            {OPENSSL_PATH, "req", "-x509", "-newkey", "ec", "-pkeyopt",
             "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", certificate, "-days",
             "2", "-subj", "/CN=websetup test publisher"});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    // The minimal executable, signed; its path.
    std::string signedStub(ImageKind kind = ImageKind::pe32) {
        const std::string unsignedStub = sandbox.writeFile("unsigned.exe", minimalExecutable(kind));
        std::string signedPath = sandbox.file("signed.exe");
        fs::remove(signedPath);
        const auto result =
            testsupport::runProcess({OSSLSIGNCODE_PATH, "sign", "-certs", certificate, "-key", key,
                                     "-in", unsignedStub, "-out", signedPath});
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        return signedPath;
    }

    testsupport::ProcessResult verify(const std::string& path) {
        return testsupport::runProcess(
            {OSSLSIGNCODE_PATH, "verify", "-CAfile", certificate, "-in", path});
    }

    static testsupport::ProcessResult stamp(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), STAMP_TOOL_PATH);
        return testsupport::runProcess(arguments);
    }

    testsupport::Sandbox sandbox;
    const std::string key = sandbox.file("key.pem");
    const std::string certificate = sandbox.file("certificate.pem");
    const std::string out = sandbox.file("stamped.exe");
};

// osslsigncode accepts a signature whatever the header checksum says; it
// only reports a wrong one: "MISMATCH" in Debian 12's version, "invalid PE
// checksum" in later ones.
void expectVerifies(const testsupport::ProcessResult& verified) {
    EXPECT_EQ(verified.exitCode, 0) << verified.out << verified.err;
    EXPECT_EQ(verified.out.find("MISMATCH"), std::string::npos) << verified.out;
    EXPECT_EQ(verified.out.find("invalid PE checksum"), std::string::npos) << verified.out;
}

TEST_F(SignedStub, StampedAndRestampedCopiesVerifyAndCarryTheirSettings) {
    for (const ImageKind kind : {ImageKind::pe32, ImageKind::pe32Plus}) {
        SCOPED_TRACE(kind == ImageKind::pe32 ? "PE32" : "PE32+");
        const std::string stub = signedStub(kind);
        expectVerifies(verify(stub));

        ASSERT_EQ(
            stamp({stub, "-o", out, "vid=42", "offerUrl=https://example.com/?a=1&b=2"}).exitCode,
            0);
        expectVerifies(verify(out));
        EXPECT_EQ(readPayloadInfo(out),
                  (PayloadInfo{{"offerUrl", "https%3A%2F%2Fexample.com%2F%3Fa%3D1%26b%3D2"},
                               {"vid", "42"}}));
        EXPECT_EQ(shownSettings(stamp({"--show", out}).out),
                  "offerUrl=https://example.com/?a=1&b=2\nvid=42\n");

        // In place, with a block of another length: the old one goes, the
        // new one still ends the file and the signature.
        ASSERT_EQ(stamp({out, "-o", out, "partnerId=7"}).exitCode, 0);
        expectVerifies(verify(out));
        const std::string restamped = testsupport::readFile(out);
        const std::string block = "PayloadInfo:partnerId=7;\0\0"s;
        EXPECT_EQ(restamped.substr(restamped.size() - block.size()), block);
        EXPECT_EQ(restamped.size() % 8, 0u);
        EXPECT_EQ(countMarkers(restamped), 2u);
        EXPECT_EQ(readPayloadInfo(out), (PayloadInfo{{"partnerId", "7"}}));
        EXPECT_EQ(shownSettings(stamp({"--show", out}).out), "partnerId=7\n");

        ASSERT_EQ(stamp({out, "-o", out}).exitCode, 0);
        expectVerifies(verify(out));
        EXPECT_EQ(shownSettings(stamp({"--show", out}).out),
                  out + " carries an empty settings block\n");
    }
}

TEST_F(SignedStub, BlockAppendedBehindTheSignatureBreaksItAndRestampingRepairsIt) {
    const std::string appended = sandbox.writeFile(
        "appended.exe", testsupport::readFile(signedStub()) + "PayloadInfo:vid=42;\0\0"s);
    EXPECT_NE(verify(appended).exitCode, 0);

    ASSERT_EQ(stamp({appended, "-o", out, "vid=43"}).exitCode, 0);
    expectVerifies(verify(out));
    EXPECT_EQ(readPayloadInfo(out), (PayloadInfo{{"vid", "43"}}));
    EXPECT_EQ(countMarkers(testsupport::readFile(out)), 2u);
}

// A signed settings block fits in the certificate table like any other: the
// executable stays signed, and a stub built with the stamp key believes it.
TEST_F(SignedStub, SignedBlockKeepsTheExecutableSignedAndIsBelieved) {
    const testsupport::MinisignKey stampKey;
    SetupConfig config;
    config.productKey = "wrnkit";
    config.stampKey = stampKey.publicKey();
    // Stamped, then restamped in place with a block of another length.
    std::string input = signedStub();
    for (const std::string setting : {"vid=42", "vid=4242"}) {
        SCOPED_TRACE(setting);
        ASSERT_EQ(
            stamp({"--sign-key", stampKey.secretKeyFile(), input, "-o", out, setting}).exitCode, 0);
        input = out;
        expectVerifies(verify(out));
        const StubSettings settings = readStampedSettings(config, out);
        EXPECT_EQ(settings.stampRefusal, "");
        EXPECT_EQ(settings.vid, utf8ToWide(setting.substr(4)));
    }
    EXPECT_EQ(countMarkers(testsupport::readFile(out)), 2u);
}

TEST_F(SignedStub, ChecksumIsRecomputedOnlyWhenTheStubHasOne) {
    const std::string signedPath = signedStub();
    std::string stub = testsupport::readFile(signedPath);
    ASSERT_NE(read32(stub, kChecksumField), 0u);
    ASSERT_EQ(stamp({signedPath, "-o", out, "vid=1"}).exitCode, 0);
    expectVerifies(verify(out));

    write(stub, kChecksumField, 0, 4);
    const std::string withoutChecksum = sandbox.writeFile("no-checksum.exe", stub);
    ASSERT_EQ(stamp({withoutChecksum, "-o", out, "vid=1"}).exitCode, 0);
    EXPECT_EQ(verify(out).exitCode, 0);
    EXPECT_EQ(read32(testsupport::readFile(out), kChecksumField), 0u);
}

TEST_F(SignedStub, RefusesCertificateTablesItCannotExtendAndWritesNothing) {
    const std::size_t entry = securityEntry(ImageKind::pe32);
    const std::string stub = testsupport::readFile(signedStub());
    const std::size_t table = read32(stub, entry);
    const struct {
        const char* fault;
        std::function<void(std::string&)> damage;
        std::string reason;
    } cases[] = {
        {"data behind the table", [](std::string& file) { file += "trailing"; },
         "does not end the file"},
        {"table longer than the file",
         [&](std::string& file) { write(file, entry + 4, read32(file, entry + 4) + 8, 4); },
         "does not end the file"},
        {"table over the headers", [&](std::string& file) { write(file, entry, 0x40, 4); },
         "overlaps the file's headers"},
        {"entry shorter than the table",
         [&](std::string& file) { write(file, table, read32(file, table) - 16, 4); },
         "lengths disagree"},
        {"data behind the signature",
         [&](std::string& file) {
             file += "8 bytes!";
             write(file, entry + 4, read32(file, entry + 4) + 8, 4);
             write(file, table, read32(file, table) + 8, 4);
         },
         "other data behind the signature"},
        {"no DER signature", [&](std::string& file) { file[table + 8] = '\x31'; },
         "signature in its certificate table does not fit"},
    };
    for (const auto& c : cases) {
        std::string damaged = stub;
        c.damage(damaged);
        const std::string path = sandbox.writeFile("damaged.exe", damaged);
        const auto result = stamp({path, "-o", out, "vid=1"});
        EXPECT_EQ(result.exitCode, 65) << c.fault;
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << c.fault << ": " << result.err;
        EXPECT_NE(result.err.find("nothing written"), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(out)) << c.fault;
    }
}

}  // namespace
