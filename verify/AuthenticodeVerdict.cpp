#include "verify/AuthenticodeVerdict.h"

#include <cstdio>

#include "text/TextConversion.h"

namespace {

// WinVerifyTrust's usual answers (winerror.h); the rest are shown by number.
struct KnownResult {
    std::uint32_t code;
    const char* meaning;
};
constexpr KnownResult kKnownResults[] = {
    {0x800B0100, "the file is not signed"},
    {0x80096010, "the file was changed after it was signed"},
    {0x800B0109, "the signature's chain ends at a root that is not trusted"},
    {0x800B010C, "the signing certificate was revoked"},
    {0x800B0101, "the signing certificate has expired"},
    {0x800B0111, "the signer is explicitly distrusted"},
    {0x800B0003, "the file's form cannot carry a signature"},
    {0x80092026, "the system's settings do not allow the signature"},
    {0x800B0004, "the signature is not trusted"},
};

}  // namespace

PublisherCheck authenticodeVerdict(std::uint32_t trustResult,
                                   const std::optional<std::wstring>& signerName,
                                   std::wstring_view pinnedName) {
    if (trustResult != 0) {
        for (const KnownResult& known : kKnownResults) {
            if (known.code == trustResult) return {false, false, known.meaning};
        }
        char text[64];
        std::snprintf(text, sizeof text, "WinVerifyTrust answered 0x%08X",
                      static_cast<unsigned>(trustResult));
        return {false, false, text};
    }
    if (!signerName || signerName->empty()) {
        return {false, false, "the signature names no signer"};
    }
    if (*signerName != pinnedName) {
        return {false, false,
                "signed by \"" + wideToUtf8(*signerName) + "\", not by \"" +
                    wideToUtf8(pinnedName) + "\""};
    }
    return {true, false, "signed by \"" + wideToUtf8(*signerName) + "\""};
}
