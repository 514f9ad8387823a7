#include <gtest/gtest.h>

#include "app/SettingValue.h"
#include "app/StampedBlock.h"
#include "text/TextConversion.h"
#include "tools/RoundTripValues.h"
#include "tools/stamp/PayloadBlock.h"

namespace {

using namespace std::string_literals;

TEST(PayloadBlock, EveryValueReadsBackUnchanged) {
    StampSettings settings;
    for (std::size_t i = 0; i < kRoundTripValues.size(); ++i) {
        settings["k" + std::to_string(i)] = kRoundTripValues[i];
    }
    const std::string block = makePayloadBlock(settings);
    ASSERT_EQ(block.substr(block.size() - 2), "\0\0"s);

    const PayloadInfo payload = parsePayloadInfo(block);
    ASSERT_EQ(payload.size(), settings.size());
    for (const auto& [key, value] : settings) {
        ASSERT_EQ(payload.count(key), 1u) << key;
        EXPECT_EQ(wideToUtf8(decodeSettingValue(payload.at(key))), value) << key;
    }
}

TEST(PayloadBlock, EscapesAsciiButLeavesUtf8Raw) {
    const struct {
        std::string value;
        std::string encoded;
    } cases[] = {
        {"Az09-._~", "Az09-._~"},
        {"a b+c%d;e=f", "a%20b%2Bc%25d%3Be%3Df"},
        {"https://x/?y", "https%3A%2F%2Fx%2F%3Fy"},
        {"\x01\x7f", "%01%7F"},
        {"\xd0\x9f", "\xd0\x9f"},
    };
    for (const auto& c : cases) EXPECT_EQ(encodeSettingValue(c.value), c.encoded) << c.value;
}

TEST(PayloadBlock, RefusesKeysTheBlockCannotCarry) {
    for (const std::string& key : {""s, "a=b"s, "a;b"s, "a\0b"s, "a b"s, "a\tb"s, "\n"s,
                                   "xPayloadInfo:y"s, std::string(kStampSignatureKey)}) {
        EXPECT_TRUE(keyProblem(key)) << key;
    }
    for (const std::string& key : {"vid"s, "PidVaulto"s, "a.b-c_d:e"s, "\xd0\x9f"s}) {
        EXPECT_FALSE(keyProblem(key)) << key;
    }
    EXPECT_TRUE(valueProblem("a\xff"));
    // Stamped as %00, it would cut the installer's command line short.
    EXPECT_TRUE(valueProblem("a\0b"s));
    EXPECT_FALSE(valueProblem("\xd0\x9f"));
    EXPECT_FALSE(valueProblem("%00"));
}

TEST(PayloadBlock, FindsOnlyAStampedBlockThatEndsTheFile) {
    const std::string program =
        "\x7f"
        "ELF code PayloadInfo:\0 constant data;\0"s;
    const struct {
        std::string file;
        std::optional<std::size_t> expected;
    } cases[] = {
        {program + "PayloadInfo:a=1;b=%20;\0\0"s, program.size()},
        {program + "PayloadInfo:\0\0"s, program.size()},
        {program + "PayloadInfo:old=1;\0\0PayloadInfo:a=1;\0\0"s, program.size() + 20},
        {program, std::nullopt},
        {program + "\0\0"s, std::nullopt},
        {program + "PayloadInfo:a=1;\0\0x"s, std::nullopt},
        {program + "PayloadInfo:a=1;\0"s, std::nullopt},
        {program + "PayloadInfo:a=1\0\0"s, std::nullopt},
        {program + "PayloadInfo:a=1;;\0\0"s, std::nullopt},
        {program + "PayloadInfo:junk;\0\0"s, std::nullopt},
        {program + "PayloadInfo:a b=1;\0\0"s, std::nullopt},
        {program + "PayloadInfo:a=1\0x;\0\0"s, std::nullopt},
        {"\0\0"s, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(findStampedBlock(c.file), c.expected) << c.file;
}

// A stand-in signer: what minisign's signature file looks like, with a
// trusted comment that holds every character the item must encode.
const std::string kTrustedComment = "timestamp:1\tfile:a;b:c=d%e \xd0\x9f";
std::string fakeSignatureFile(std::string_view signedBytes) {
    return "untrusted comment: x\nRUQ" + std::to_string(signedBytes.size()) +
           "+/=\ntrusted comment: " + kTrustedComment + "\nGLOBAL+/=\n";
}

TEST(PayloadBlock, SignedBlockReadsBackWhatWasSignedAndOldReadersKeepTheSettings) {
    const StampSettings settings{{"vid", "42"}, {"offerUrl", "https://x/?a=1;b=2"}};
    std::string signedBytes;
    const std::string block = makeSignedPayloadBlock(settings, [&](std::string_view bytes) {
        signedBytes = std::string(bytes);
        return fakeSignatureFile(bytes);
    });
    const std::string unsignedBlock = makePayloadBlock(settings);
    EXPECT_EQ(signedBytes, unsignedBlock.substr(0, unsignedBlock.size() - 2));

    const std::string program = "code PayloadInfo:\0 constant data;\0"s;
    const StampedBlock read = parseStampedBlock(program + block);
    EXPECT_EQ(read.settings, parsePayloadInfo(unsignedBlock));
    EXPECT_EQ(read.signedBytes, signedBytes);
    ASSERT_TRUE(read.signature);
    EXPECT_EQ(read.signature->substr(read.signature->find('\n')),
              fakeSignatureFile(signedBytes).substr(fakeSignatureFile(signedBytes).find('\n')));
    EXPECT_FALSE(read.settingAfterSignature);

    // A reader that knows nothing of signatures sees the same settings and
    // one more item; a restamp finds the block to replace it.
    PayloadInfo oldReading = parsePayloadInfo(program + block);
    EXPECT_EQ(oldReading.erase(std::string(kStampSignatureKey)), 1u);
    EXPECT_EQ(oldReading, read.settings);
    EXPECT_EQ(findStampedBlock(program + block), program.size());
}

TEST(PayloadBlock, OnlyASignedBlockWithNothingBehindItsSignatureIsBelieved) {
    const std::string item = makeSignedPayloadBlock({}, fakeSignatureFile).substr(12);
    const std::string good = item.substr(0, item.size() - 2);  // "~signature=...;"
    const struct {
        std::string block;
        std::string refusal;
    } cases[] = {
        {"PayloadInfo:\0\0"s, ""},
        {"PayloadInfo:a=1;\0\0"s, "the settings block is not signed"},
        {"PayloadInfo:a=1;" + good, "bad signature"},
        {"PayloadInfo:" + good, ""},
        {"PayloadInfo:" + good + "a=1;", "a setting follows the settings block's signature"},
        {"PayloadInfo:a=1;~signature=RUQ:x;",
         "the settings block's signature item is not a minisign signature"},
        // The last signature covers the one before it.
        {"PayloadInfo:a=1;~signature=RUQ:x;" + good, "bad signature"},
    };
    for (const auto& c : cases) {
        const StampedBlock block = parseStampedBlock(c.block);
        EXPECT_EQ(block.settings.count(std::string(kStampSignatureKey)), 0u) << c.block;
        const std::string refusal =
            stampRefusal(block, [](std::string_view signedBytes, const std::string& signature) {
                return signature.find("RUQ" + std::to_string(signedBytes.size()) + "+") !=
                                   std::string::npos &&
                               signedBytes == "PayloadInfo:"
                           ? ""
                           : "bad signature";
            });
        EXPECT_EQ(refusal, c.refusal) << c.block;
    }
}

}  // namespace
