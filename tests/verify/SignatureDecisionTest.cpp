// Where a signature is fetched from, and what a Windows signature check's
// answer means for the pinned publisher: the decisions, without the calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "verify/AuthenticodeVerdict.h"
#include "verify/SignatureAddress.h"

namespace {

std::vector<ResponseHeader> answer(const std::vector<std::string>& lines) {
    std::vector<ResponseHeader> headers;
    headers.reserve(lines.size());
    for (const std::string& line : lines) headers.push_back(parseHeaderLine(line));
    return headers;
}

TEST(SignatureAddress, IsBesideTheFinalAddressOfTheRedirects) {
    const std::string request = "https://dl.example/app/download?ref=7";
    const struct {
        const char* name;
        std::vector<std::string> lines;
        std::string signature;
    } cases[] = {
        {"no redirect", {"HTTP/1.1 200 OK"}, "https://dl.example/app/download.minisig?ref=7"},
        {"relative, then absolute",
         {"HTTP/1.1 302 Found", "Location: /v2/setup.exe", "HTTP/1.1 301 Moved",
          "location: https://cdn.example/f/setup.exe?token=a#frag", "HTTP/1.1 200 OK"},
         "https://cdn.example/f/setup.exe.minisig?token=a"},
        {"the final answer's own Location is not followed",
         {"HTTP/1.1 200 OK", "Location: https://elsewhere.example/x"},
         "https://dl.example/app/download.minisig?ref=7"},
        {"through a proxy's tunnel",
         {"HTTP/1.1 200 Connection established", "HTTP/1.1 302 Found", "Location: setup.exe",
          "HTTP/1.1 200 OK"},
         "https://dl.example/app/setup.exe.minisig"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto final = finalAddress(request, answer(c.lines));
        ASSERT_TRUE(final);
        EXPECT_EQ(signatureAddress(*final), c.signature);
    }
}

TEST(AuthenticodeVerdict, OnlyATrustedSignatureOfThePinnedNameIsVerified) {
    const std::wstring pinned = L"Wren Software Ltd";
    const struct {
        const char* name;
        std::uint32_t result;
        std::optional<std::wstring> signer;
        bool verified;
        std::string detail;
    } cases[] = {
        {"trusted, pinned name", 0, pinned, true, "signed by \"Wren Software Ltd\""},
        {"trusted, another publisher", 0, L"Other Corp", false,
         "signed by \"Other Corp\", not by \"Wren Software Ltd\""},
        {"trusted, name differing in case", 0, L"WREN SOFTWARE LTD", false,
         "signed by \"WREN SOFTWARE LTD\", not by \"Wren Software Ltd\""},
        {"trusted, name with a trailing blank", 0, pinned + L" ", false,
         "signed by \"Wren Software Ltd \", not by \"Wren Software Ltd\""},
        {"trusted, no signer", 0, std::nullopt, false, "the signature names no signer"},
        {"unsigned", 0x800B0100, std::nullopt, false, "the file is not signed"},
        {"changed after signing", 0x80096010, pinned, false,
         "the file was changed after it was signed"},
        {"untrusted root", 0x800B0109, pinned, false,
         "the signature's chain ends at a root that is not trusted"},
        {"revoked", 0x800B010C, pinned, false, "the signing certificate was revoked"},
        {"unknown answer", 0x80004005, pinned, false, "WinVerifyTrust answered 0x80004005"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PublisherCheck check = authenticodeVerdict(c.result, c.signer, pinned);
        EXPECT_EQ(check.verified, c.verified);
        EXPECT_FALSE(check.stopped);
        EXPECT_EQ(check.detail, c.detail);
    }
}

}  // namespace
