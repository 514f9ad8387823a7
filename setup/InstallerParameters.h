#pragma once

#include <optional>
#include <string>

#include "app/ProductCatalog.h"
#include "app/StubSettings.h"

// The Vault-O row passes one campaign id and nothing else.
inline constexpr ProductId kVaultOProductId = 13;

// The installer's parameter text: " /partnerId=…", " /vid=…",
// " /contentType=…", " /contentAddress=\"…\"", " /offerUrl=\"…\"", " /S" and
// " /key=\"value\"" per remaining setting in key order with the value
// decoded, each only when it has a value. Every setting must reach the
// installer as one argument with exactly its value, whatever the stamp put
// in it: values between quotes are escaped by the command-line rules, and an
// argument without quotes of its own is quoted whole when its value has a
// blank, tab or quote. Ordinary values give the plain text above. For
// Vault-O the whole list is replaced by " /subid <PidVaulto>"; without that
// setting there are no parameters at all (std::nullopt).
std::optional<std::wstring> installerParameters(const StubSettings& settings);
