#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "verify/PublisherSignature.h"

// What an Authenticode check means for a pinned publisher, apart from the
// calls that make it (kept portable so that the decision is tested on every
// platform). trustResult is WinVerifyTrust's answer (0: the signature and its
// whole chain are trusted); signerName the simple display name of the signing
// certificate's subject, when there is one. Only a trusted signature whose
// signer name equals pinnedName exactly, character for character, is
// verified: a publisher's certificate carries its legal name as issued, and a
// name that merely looks alike is someone else's.
PublisherCheck authenticodeVerdict(std::uint32_t trustResult,
                                   const std::optional<std::wstring>& signerName,
                                   std::wstring_view pinnedName);
