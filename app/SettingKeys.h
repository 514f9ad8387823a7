#pragma once

#include <optional>
#include <string_view>
#include <vector>

// The stamped settings the stub itself interprets. Every other key is passed
// on to the installer as " /key=\"value\"". The stub, websetup-stamp
// --strict and --show, and the documentation all go by this one list.

inline constexpr std::string_view kVidKey = "vid";
inline constexpr std::string_view kPartnerIdKey = "partnerId";
inline constexpr std::string_view kContentTypeKey = "contentType";
inline constexpr std::string_view kContentAddressKey = "contentAddress";
inline constexpr std::string_view kOfferUrlKey = "offerUrl";
inline constexpr std::string_view kSilentModeKey = "silentMode";
// Consumed only by the Vault-O build; any other build passes it on.
inline constexpr std::string_view kVaultOCampaignKey = "PidVaulto";

struct SettingKey {
    std::string_view key;
    // What the stub does with it and how it reaches the installer, in a
    // sentence (the stub's --help and websetup-stamp --show print it).
    std::string_view effect;
};

// In the order the installer's parameter text puts them.
const std::vector<SettingKey>& knownSettingKeys();

bool isKnownSettingKey(std::string_view key);

// The known key that differs from key only in the case of its ASCII letters
// ("partnerID" -> "partnerId"), when there is one and it is not key itself.
std::optional<std::string_view> knownKeyDifferingInCase(std::string_view key);
