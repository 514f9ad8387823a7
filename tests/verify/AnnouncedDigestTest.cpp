// Which digest a size request's answer announces, and which values are
// ignored rather than trusted.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "verify/AnnouncedDigest.h"
#include "verify/Base64.h"

namespace {

// sha-256 and sha-512 of "abc" (FIPS 180-2 test vectors) in base64.
const std::string kAbc256 = "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=";
const std::string kAbc512 =
    "3a81oZNherrMQXNJriBBMRLm+k6JqX6iCp7u5ktV05ohkpkqJ0/BqDa6PCOj/uu9RU1EI2Q86A4qmslPpUyknw==";
// A sha-256 value of no file we know: 32 zero bytes.
const std::string kZero256 = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
const std::string kAbc256Hex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::vector<ResponseHeader> answer(const std::vector<std::string>& lines) {
    std::vector<ResponseHeader> headers;
    headers.reserve(lines.size());
    for (const std::string& line : lines) headers.push_back(parseHeaderLine(line));
    return headers;
}

TEST(AnnouncedDigest, TakesTheFinalAnswersUsableDigestsAndNamesWhatItIgnores) {
    using Digests = std::vector<std::pair<DigestAlgorithm, std::string>>;  // base64 values
    const auto sha256 = DigestAlgorithm::Sha256;
    const auto sha512 = DigestAlgorithm::Sha512;
    const struct {
        const char* name;
        std::vector<std::string> lines;
        Digests digests;  // what the file must have; none: nothing to check
        std::size_t ignored;
    } cases[] = {
        {"sha-256",
         {"HTTP/1.1 200 OK", "Repr-Digest: sha-256=:" + kAbc256 + ":"},
         {{sha256, kAbc256}},
         0},
        {"both algorithms, parameters and blanks",
         {"HTTP/1.1 200 OK",
          "Repr-Digest: sha-256=:" + kAbc256 + ":;x=1 ,  sha-512=:" + kAbc512 + ":"},
         {{sha256, kAbc256}, {sha512, kAbc512}},
         0},
        {"one field over two lines",
         {"HTTP/1.1 200 OK",
          "Repr-Digest: md5=:AAAAAAAAAAAAAAAAAAAAAA==:", "repr-digest: sha-256=:" + kAbc256 + ":"},
         {{sha256, kAbc256}},
         1},
        {"the same value twice",
         {"HTTP/1.1 200 OK", "Repr-Digest: sha-256=:" + kAbc256 + ":",
          "Repr-Digest: sha-256=:" + kAbc256 + ":"},
         {{sha256, kAbc256}},
         0},
        // No file has both: each must be checked, not the first taken.
        {"two values of one algorithm",
         {"HTTP/1.1 200 OK", "Repr-Digest: sha-256=:" + kAbc256 + ":, sha-256=:" + kZero256 + ":"},
         {{sha256, kAbc256}, {sha256, kZero256}},
         0},
        {"older Digest field, any case",
         {"HTTP/1.1 200 OK", "digest: sha-256=" + kAbc256},
         {{sha256, kAbc256}},
         0},
        {"Repr-Digest wins over Digest",
         {"HTTP/1.1 200 OK", "Digest: SHA-512=" + kAbc512,
          "Repr-Digest: sha-256=:" + kAbc256 + ":"},
         {{sha256, kAbc256}},
         1},
        {"only on the redirect",
         {"HTTP/1.1 302 Found", "Repr-Digest: sha-256=:" + kAbc256 + ":", "Location: /x",
          "HTTP/1.1 200 OK", "Content-Length: 3"},
         {},
         0},
        {"unknown algorithm", {"HTTP/1.1 200 OK", "Repr-Digest: sha-384=:" + kAbc512 + ":"}, {}, 1},
        {"value of the wrong length",
         {"HTTP/1.1 200 OK", "Repr-Digest: sha-512=:" + kAbc256 + ":"},
         {},
         1},
        {"not base64", {"HTTP/1.1 200 OK", "Repr-Digest: sha-256=:not*base64:"}, {}, 1},
        {"a token, not a byte sequence", {"HTTP/1.1 200 OK", "Repr-Digest: sha-256=abc"}, {}, 1},
        {"upper-case key breaks the dictionary",
         {"HTTP/1.1 200 OK", "Repr-Digest: SHA-256=:" + kAbc256 + ":"},
         {},
         1},
        {"trailing comma breaks the dictionary",
         {"HTTP/1.1 200 OK", "Repr-Digest: sha-256=:" + kAbc256 + ":,"},
         {},
         1},
        {"nothing announced", {"HTTP/1.1 200 OK", "Content-Length: 3"}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DigestAnnouncement result = announcedDigest(answer(c.lines));
        EXPECT_EQ(result.ignored.size(), c.ignored);
        std::vector<std::pair<DigestAlgorithm, std::vector<unsigned char>>> expected, announced;
        for (const auto& [algorithm, base64] : c.digests) {
            expected.emplace_back(algorithm, *decodeBase64(base64));
        }
        for (const AnnouncedDigest& digest : result.digests) {
            announced.emplace_back(digest.algorithm, digest.value);
        }
        EXPECT_EQ(announced, expected);
    }
}

TEST(AnnouncedDigest, CommandLineDigestTakesHexOrBase64) {
    const struct {
        std::string text;
        bool valid;
    } cases[] = {
        {"sha-256:" + kAbc256Hex, true},
        {"SHA-256:" + kAbc256, true},
        {"sha-512:" + kAbc512, true},
        {"sha-512:" + kAbc256, false},
        {"md5:" + kAbc256, false},
        {kAbc256Hex, false},
        {"sha-256:" + kAbc256Hex.substr(1), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<AnnouncedDigest> digest = parseDigestArgument(c.text);
        ASSERT_EQ(digest.has_value(), c.valid);
        if (c.valid && digest->algorithm == DigestAlgorithm::Sha256) {
            EXPECT_EQ(toHex(digest->value), kAbc256Hex);
        }
    }
}

TEST(Base64, ReadsOnlyCanonicalText) {
    const struct {
        const char* text;
        std::optional<std::string> bytes;
    } cases[] = {
        {"", std::string()},
        {"YQ==", std::string("a")},
        {"YQ", std::string("a")},
        {"YWI=", std::string("ab")},
        {"YWJj", std::string("abc")},
        {"YR==", std::nullopt},   // stray bits below the last byte
        {"Y", std::nullopt},      // six bits are no byte
        {"YQ=", std::nullopt},    // padding of the wrong length
        {"Y=Q=", std::nullopt},   // padding inside
        {"YW Jj", std::nullopt},  // a blank
        {"YWJj\n", std::nullopt},
        {"YW-j", std::nullopt},  // the URL-safe alphabet is another encoding
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto decoded = decodeBase64(c.text);
        ASSERT_EQ(decoded.has_value(), c.bytes.has_value());
        if (c.bytes) {
            EXPECT_EQ(std::string(decoded->begin(), decoded->end()), *c.bytes);
        }
    }
}

}  // namespace
